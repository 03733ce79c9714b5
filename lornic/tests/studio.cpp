#include "studio.h"

void Join(sim::Part* a, sim::Part* b) {
  a->connectedTo = b;
  b->connectedTo = a;
}

Studio::Studio(sim::AudioSystem& a) : audio(a) {
  mic = audio.AddEndpoint(sim::U16("{0.0.1.00000000}.{mic}"), {0.5f});
  mic->friendlyName = u"Микрофон USB";
  line = audio.AddEndpoint(sim::U16("{0.0.1.00000000}.{line}"), {0.25f, 0.75f});
  speakers = audio.AddEndpoint(sim::U16("{0.0.0.00000000}.{speakers}"), {1.0f, 0.5f});
  speakers->friendlyName = u"Speakers (Studio)";
  audio.defaultRender = speakers;
  audio.waveIn = {{mic->id}, {line->id}};
  audio.waveOut = {{speakers->id}};

  adapter = audio.AddTopology(mic);
  agc = audio.AddPart(Subunit, sim::kSubtypeAgc, "agc");
  pin = audio.AddPart(Connector, sim::kSubtypeOther, "pin");
  sim::Part* hw = audio.AddPart(Connector, sim::kSubtypeOther, "hw");
  gain = audio.AddPart(Subunit, sim::kSubtypeVolume, "gain");
  out = audio.AddPart(Connector, sim::kSubtypeOther, "out");
  adapter->outgoing = {agc};
  agc->outgoing = {pin};
  Join(pin, hw);
  hw->outgoing = {gain};
  gain->outgoing = {out};
  gain->volume.levels = {0.0f};
}
