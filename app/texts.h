// The German texts of the batch: message titles, messages, stop reasons,
// the instructions, the file requester's title and patterns, the output
// file suffixes and the composites' failure texts. In messages, '\r' is a
// line break. The desktop windows' own labels live in ui/ui_text.h.
#pragma once

#include <array>

namespace mpo::texts {

// Message titles.
inline constexpr char16_t kErrorTitle[] = u"Fehler";
inline constexpr char16_t kErrorInfoTitle[] = u"Fehlerinfo";
inline constexpr char16_t kInstructionsTitle[] = u"Anleitung";
inline constexpr char16_t kEndTitle[] = u"Programmende";

// Shown before the file requester.
inline constexpr char16_t kInstructions[] =
    u"Mit dem folgenden Auswahlmen\u00fc w\u00e4hlen Sie in dem betreffenden Verzeichnis nur eine "
    u"MPO-Datei aus.Damit sind s\u00e4mtliche MPO-Dateien dieses Verzeichnisses zur Bearbeitung "
    u"ausgew\u00e4hlt. Es entstehen folgende Bilder:\r"
    u"- je ein rechtes und linkes Einzelbild\r"
    u"- ein doppelt breites Sidebyside-Bild\r"
    u"- ein doppelt breites Sidebyside-Bild mit Exif - Daten\r"
    u"- je ein Bild SBS und O/U von halber Breite bzw H\u00f6he\r"
    u"Die Bearbeitung erfolgt ohne Verlaufsanzeige und ist mit Ausgabe einer entsprechenden "
    u"Messagebox beendet.";

// The file requester.
inline constexpr char16_t kRequesterTitle[] = u"Bitte eine MPO-Datei zum Laden ausw\u00e4hlen";
inline constexpr char16_t kRequesterPatterns[] =
    u"MPO Dateien (*.mpo)|*.MPO|Alle Dateien (*.*)|*.*";

// Messages; those ending in '\r' are followed by a path.
inline constexpr char16_t kNoFileChosen[] = u"Keine Datei gew\u00e4hlt, beende";
inline constexpr char16_t kListNotCreated[] =
    u"Die Liste der MPO-Dateien konnte nicht angelegt werden";
inline constexpr char16_t kFolderUnreadable[] = u"Der Ordner konnte nicht gelesen werden\r";
inline constexpr char16_t kFinished[] = u"Die Bearbeitung der MPO-Dateien ist beendet";

// Why an entry stops the batch (shown under "Fehler", then '\r' and the MPO).
inline constexpr char16_t kNoImageFile[] = u"keine Bilddatei";
inline constexpr char16_t kNoMemory[] = u"Speicher nicht verf\u00fcgbar";
inline constexpr char16_t kUnreadable[] = u"Bilddaten nicht lesbar";
inline constexpr char16_t kNoSeparator[] = u"Trennstelle nicht gefunden";

// Output files: base path + suffix.
inline constexpr char16_t kLeftSuffix[] = u"_L.jpg";
inline constexpr char16_t kRightSuffix[] = u"_R.jpg";
inline constexpr char16_t kSbsSuffix[] = u"_sbs.jpg";
inline constexpr char16_t kSbshSuffix[] = u"_sbsh.jpg";
inline constexpr char16_t kOuhSuffix[] = u"_ouh.jpg";
inline constexpr char16_t kExifSuffix[] = u"_EXIF.jpg";
inline constexpr std::array<const char16_t*, 6> kOutputSuffixes = {
    kLeftSuffix, kRightSuffix, kSbsSuffix, kSbshSuffix, kOuhSuffix, kExifSuffix};

// An output that could not be built or written (shown under "Fehlerinfo").
inline constexpr char16_t kSbsFailed[] = u"Die SBS-Datei konnte nicht erstellt werden";
inline constexpr char16_t kSbshFailed[] = u"Die SBS-halb-Datei konnte nicht erstellt werden";
inline constexpr char16_t kOuhFailed[] = u"Die O/U-halb-Datei konnte nicht erstellt werden";
inline constexpr char16_t kExifFailed[] = u"Die JPG-EXIF-Datei konnte nicht erstellt werden";

}  // namespace mpo::texts
