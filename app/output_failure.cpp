#include "app/output_failure.h"

#include <cerrno>
#include <string>

#include "app/texts.h"

namespace mpo {

Text failure_reason_text(int reason) {
  switch (reason) {
    case kReasonUnreadableImage: return texts::kReasonUnreadableImage;
    case kReasonNoExif: return texts::kReasonNoExif;
    case kReasonNoSideBySide: return texts::kReasonNoSideBySide;
    case kReasonUnknown: return texts::kReasonUnknown;
    case EACCES: return u"Zugriff verweigert";
    case EPERM: return u"Vorgang nicht erlaubt";
    case EROFS: return u"Dateisystem nur lesbar";
    case ENOSPC: return u"kein Platz auf dem Ger\u00e4t";
    case EDQUOT: return u"Speicherkontingent \u00fcberschritten";
    case EFBIG: return u"Datei zu gro\u00df";
    case ENAMETOOLONG: return u"Dateiname zu lang";
    case EEXIST: return u"Datei existiert bereits";
    case EISDIR: return u"ist ein Verzeichnis";
    case ENOTDIR: return u"ist kein Verzeichnis";
    case ENOENT: return u"Datei oder Verzeichnis nicht gefunden";
    case EIO: return u"Ein-/Ausgabefehler";
    case ENOMEM: return u"Speicher nicht verf\u00fcgbar";
    case EMFILE:
    case ENFILE: return u"zu viele offene Dateien";
    case ELOOP: return u"zu viele Ebenen symbolischer Verkn\u00fcpfungen";
    case ETXTBSY: return u"Datei wird benutzt";
    default: break;
  }
  return T("Systemfehler " + std::to_string(reason));
}

void FailureReport::output_failed(const Text& failure_text, const Text& file_name,
                                  int reason) const {
  output_failed(failure_text, file_name, failure_reason_text(reason));
}

void FailureReport::output_failed(const Text& failure_text, const Text& file_name,
                                  const Text& reason) const {
  if (!detailed_) {
    ui_.show_message(texts::kErrorInfoTitle, failure_text);
    return;
  }
  ui_.show_message(texts::kErrorInfoTitle, failure_text + u"\r" + file_name + u": " + reason);
}

void FailureReport::quiet_output_failed(const Text& failure_text, const Text& file_name,
                                        int reason) const {
  if (detailed_) output_failed(failure_text, file_name, reason);
}

}  // namespace mpo
