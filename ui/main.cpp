// mpo-convert: the desktop program. Takes no command-line arguments and
// always ends with exit code 0.
#include <clocale>
#include <cstdio>

#include <wx/app.h>
#include <wx/init.h>
#include <wx/uilocale.h>

#include "app/driver.h"
#include "image/image_service.h"
#include "io/files.h"
#include "io/memory_policy.h"
#include "io/standard_streams.h"
#include "ui/wx_ui.h"

// The run happens in main, between toolkit start-up and shut-down; the
// application object only provides the toolkit's state.
class ConvertApp : public wxApp {
 public:
  bool OnInit() override { return true; }  // no command line to parse
};

wxIMPLEMENT_APP_NO_MAIN(ConvertApp);

namespace {

// The toolkit's own texts (the file requester's buttons and places) follow
// the desktop's language. Numbers keep the C locale's form: nothing the
// program shows changes with the language.
void take_desktop_language() {
  wxUILocale::UseDefault();
  std::setlocale(LC_NUMERIC, "C");
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything is opened: a closed descriptor 2 would otherwise be the
  // number of the first file, and a toolkit warning would land in it.
  mpo::keep_standard_streams_open();
  if (!wxEntryStart(argc, argv)) {
    std::fputs("mpo-convert: keine grafische Anzeige verfügbar\n", stderr);
    return 0;
  }
  take_desktop_language();
  if (wxTheApp->CallOnInit()) {
    const mpo::RunConfig config;
    mpo::keep_large_blocks_in_heap(config.jobs);
    mpo::FileService files;
    mpo::ImageService images;
    mpo::WxUi ui;
    mpo::run_desktop(files, images, ui, ui, config);
  }
  wxEntryCleanup();
  return 0;
}
