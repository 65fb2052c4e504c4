// mpo-convert: the desktop program. Takes no command-line arguments and
// always ends with exit code 0.
#include <cstdio>

#include <wx/app.h>
#include <wx/init.h>

#include "app/driver.h"
#include "image/image_service.h"
#include "io/files.h"
#include "ui/wx_ui.h"

// The run happens in main, between toolkit start-up and shut-down; the
// application object only provides the toolkit's state.
class ConvertApp : public wxApp {
 public:
  bool OnInit() override { return true; }  // no command line to parse
};

wxIMPLEMENT_APP_NO_MAIN(ConvertApp);

int main(int argc, char** argv) {
  if (!wxEntryStart(argc, argv)) {
    std::fputs("mpo-convert: keine grafische Anzeige verfügbar\n", stderr);
    return 0;
  }
  if (wxTheApp->CallOnInit()) {
    mpo::FileService files;
    mpo::ImageService images;
    mpo::WxUi ui;
    mpo::run_program(files, images, ui, mpo::RunConfig{});
  }
  wxEntryCleanup();
  return 0;
}
