#include "ui/file_requester.h"

#include <wx/filefn.h>

#include "ui/ui_text.h"
#include "ui/wx_text.h"

namespace mpo {

std::unique_ptr<wxFileDialog> make_open_requester(wxWindow* owner, const Text& title,
                                                  const Text& default_file, const Text& patterns,
                                                  int pattern_index, const wxIconBundle& icons) {
  // No wxFD_FILE_MUST_EXIST: a name typed into an existing folder is
  // accepted, only the folder is used. No wxFD_CHANGE_DIR: the list file is
  // created relative to the working directory.
  auto requester = std::make_unique<wxFileDialog>(owner, to_wx(title), wxGetCwd(),
                                                  to_wx(default_file),
                                                  to_wx(requester_wildcard(patterns)), wxFD_OPEN);
  requester->SetFilterIndex(requester_filter_index(patterns, pattern_index));
  requester->SetIcons(icons);
  return requester;
}

Text run_open_requester(wxFileDialog& requester) {
  const wxString working_directory = wxGetCwd();
  const int answer = requester.ShowModal();
  if (wxGetCwd() != working_directory) wxSetWorkingDirectory(working_directory);
  if (answer != wxID_OK) return Text();
  return requester_result(from_wx_file_name(requester.GetPath()));
}

}  // namespace mpo
