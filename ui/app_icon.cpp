#include "ui/app_icon.h"

#include <wx/bitmap.h>
#include <wx/icon.h>
#include <wx/image.h>

#include "ui/icon_data.h"

namespace mpo {

wxIconBundle program_icons() {
  // The toolkit owns the handler once it is added.
  if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
  wxIconBundle icons;
  for (const icon_data::Png& png : icon_data::all) {
    const wxBitmap bitmap = wxBitmap::NewFromPNGData(png.bytes, png.length);
    if (!bitmap.IsOk()) continue;
    wxIcon icon;
    icon.CopyFromBitmap(bitmap);
    icons.AddIcon(icon);
  }
  return icons;
}

}  // namespace mpo
