// The fixture most tests start from: a small studio machine.
//
//   waveIn 0  -> "mic": mono capture endpoint, 0.5 scalar, 0 dB in -96..0 dB,
//                named "Микрофон USB"; its topology:
//                  endpoint connector -> adapter connector -> AGC -> pin
//                  connector -> (second topology) hw connector -> gain
//                  (mono volume, 0..20 dB, at 0 dB) -> out connector (end)
//   waveIn 1  -> "line": stereo capture endpoint without topology
//   waveOut 0 -> "speakers": stereo render endpoint, the default one
#pragma once

#include <ostream>
#include <string>

#include "lornic/Lornic.h"
#include "sim_audio.h"

struct Studio {
  explicit Studio(sim::AudioSystem& audio);

  sim::AudioSystem& audio;
  sim::Endpoint* mic;
  sim::Endpoint* line;
  sim::Endpoint* speakers;
  sim::Part* adapter;  // the first part the walk starts from
  sim::Part* agc;
  sim::Part* pin;
  sim::Part* gain;
  sim::Part* out;

  LPCWSTR MicId() const { return reinterpret_cast<LPCWSTR>(mic->id.c_str()); }
  LPCWSTR SpeakersId() const { return reinterpret_cast<LPCWSTR>(speakers->id.c_str()); }
  LPCWSTR LineId() const { return reinterpret_cast<LPCWSTR>(line->id.c_str()); }
};

// Joins two connector parts of different topologies.
void Join(sim::Part* a, sim::Part* b);

// The level record in test expectations and messages.
inline bool operator==(const STStereoLevel& a, const STStereoLevel& b) {
  return a.Left == b.Left && a.Right == b.Right && a.Size == b.Size;
}
inline std::ostream& operator<<(std::ostream& out, const STStereoLevel& l) {
  return out << "{" << l.Left << ", " << l.Right << ", " << l.Size << "}";
}
