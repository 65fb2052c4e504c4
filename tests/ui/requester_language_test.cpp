// The file requester speaks the desktop's language: the toolkit's own
// labels in German on a German desktop, while the program's texts stay as
// they are.
#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <thread>

#include "tests/ui/gui_support.h"

namespace mpo {
namespace {

using namespace mpo::test;
namespace fs = std::filesystem;

const char kGerman[] = "de_DE.UTF-8";

bool locale_installed(const char* name) {
  const locale_t l = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(0));
  if (l == static_cast<locale_t>(0)) return false;
  freelocale(l);
  return true;
}

// The words on the screen as the OCR reads them in German.
std::string screen_words(const fs::path& dir) {
  const std::string png = (dir / "screen.png").string();
  run_process({"import", "-window", "root", png}, 20s);
  return run_process({"tesseract", png, "-", "-l", "deu"}, 60s).out;
}

TEST(RequesterLanguage, GermanDesktopGivesGermanRequester) {
  MPO_REQUIRE_DISPLAY();
  if (!locale_installed(kGerman)) GTEST_SKIP() << kGerman << " is not generated";
  if (run_process({"tesseract", "--list-langs"}, 20s).out.find("deu") == std::string::npos)
    GTEST_SKIP() << "no tesseract with German";
  Watchdog watchdog(120s);
  std::string pattern = (fs::temp_directory_path() / "mpo-ui-lang-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;

  Child program({"env", "LC_ALL=", "LANGUAGE=", std::string("LANG=") + kGerman,
                 (fs::path(MPO_BINARY_DIR) / "ui" / "mpo-convert").string()},
                dir.string());
  ASSERT_TRUE(program.started());
  const unsigned long options =
      wait_for_window("^Bilder zusätzlich zur Bildtrennung rechtes Bild R und linkes Bild L$", 30s);
  ASSERT_NE(options, 0u);
  std::this_thread::sleep_for(300ms);
  click_at(options, 185, 210);
  ASSERT_NE(wait_for_window("^Anleitung$", 20s), 0u);
  ASSERT_TRUE(press_until_gone("^Anleitung$", "Return"));
  const unsigned long requester = wait_for_window("^Bitte eine MPO-Datei zum Laden auswählen$", 20s);
  ASSERT_NE(requester, 0u);
  std::this_thread::sleep_for(500ms);
  // A typed name makes the open button sensitive, and so readable.
  press_keys(requester, "ctrl+l");
  type_text(requester, "x");
  std::this_thread::sleep_for(500ms);
  screenshot("requester-german");
  const std::string words = screen_words(dir);
  EXPECT_NE(words.find("Abbrechen"), std::string::npos) << words;
  EXPECT_NE(words.find("ffnen"), std::string::npos) << words;  // Öffnen, the umlaut aside
  EXPECT_EQ(words.find("Cancel"), std::string::npos) << words;

  press_until_gone("^Bitte eine MPO-Datei zum Laden auswählen$", "Escape");
  ASSERT_NE(wait_for_window("^Fehler$", 20s), 0u);
  press_until_gone("^Fehler$", "Return");
  EXPECT_EQ(program.wait(20s), 0);
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

}  // namespace
}  // namespace mpo
