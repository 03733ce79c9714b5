#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/error_class.h"
#include "config/simple_log.h"
#include "platform/frontend.h"
#include "support/temp_dir.h"

namespace {

TEST(ErrorClassRecord, ShowsTheTextUnderTheCodeAndLogsOnlyTheCode) {
  platform::ui::ScriptedFrontEnd frontEnd;
  platform::ui::SetCurrent(&frontEnd);
  ErrorClass error("Ошибка открытия файла инициализации korvo.ini", 1300);
  ErrorClass copy = error;
  copy.Show();
  platform::ui::SetCurrent(nullptr);
  ASSERT_EQ(frontEnd.Boxes().size(), 1u);
  const platform::ui::BoxRecord& box = frontEnd.Boxes()[0];
  EXPECT_EQ(box.caption, "Ошибка 1300");
  EXPECT_EQ(box.text, "Ошибка открытия файла инициализации korvo.ini");
  EXPECT_EQ(box.type, static_cast<UINT>(MB_OK | MB_TASKMODAL | MB_ICONWARNING));
  EXPECT_FALSE(box.owned);

  testing_support::TempDir dir;
  std::string path = dir / "Vastel.log";
  CSimpleLog log(path.c_str());
  error.Log(&log);
  error.Log(nullptr);
  std::string content = testing_support::ReadBytes(path);
  EXPECT_EQ(content.substr(30), "Ошибка 1300\r\n");
}

TEST(ErrorClassRecord, OverlongTextIsCutToTheRecord) {
  std::string path(500, 'p');
  ErrorClass error(path.c_str(), 204);
  EXPECT_EQ(std::strlen(error.Text), 299u);
  EXPECT_EQ(error.Code, 204);
  ErrorClass negative("x", -5);
  platform::ui::ScriptedFrontEnd frontEnd;
  platform::ui::SetCurrent(&frontEnd);
  negative.Show();
  platform::ui::SetCurrent(nullptr);
  EXPECT_EQ(frontEnd.Boxes().at(0).caption, "Ошибка -5");
}

}  // namespace
