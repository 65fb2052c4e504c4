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
inline constexpr char16_t kNoteTitle[] = u"Hinweis";

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
// Fewer workers than planned could be started: "nur " N " von " M " ...".
inline constexpr char16_t kOnlySome[] = u"nur ";
inline constexpr char16_t kOfPlanned[] = u" von ";
inline constexpr char16_t kWorkersStarted[] = u" Arbeitsthreads konnten gestartet werden";
// The command line's named paths and output folders.
inline constexpr char16_t kNotAnMpo[] = u"Keine MPO-Datei (Endung .mpo)\r";
inline constexpr char16_t kFolderNotCreated[] =
    u"Der Ordner f\u00fcr die Ausgaben konnte nicht angelegt werden\r";
// A later MPO of the run whose outputs would replace an earlier one's:
// its path, kSameOutputNames, the earlier MPO's path.
inline constexpr char16_t kSameOutputNames[] =
    u"\rnicht umgewandelt: dieselben Ausgabedateien wie\r";

// Why an entry stops the batch (shown under "Fehler", then '\r' and the MPO).
inline constexpr char16_t kNoImageFile[] = u"keine Bilddatei";
inline constexpr char16_t kNoMemory[] = u"Speicher nicht verf\u00fcgbar";
inline constexpr char16_t kUnreadable[] = u"Bilddaten nicht lesbar";
inline constexpr char16_t kNoSeparator[] = u"Trennstelle nicht gefunden";
// Neither the byte search nor the MP index finds a second view.
inline constexpr char16_t kNotStereo[] = u"keine Stereo-MPO-Datei";

// Output files: base path + suffix.
inline constexpr char16_t kLeftSuffix[] = u"_L.jpg";
inline constexpr char16_t kRightSuffix[] = u"_R.jpg";
inline constexpr char16_t kSbsSuffix[] = u"_sbs.jpg";
inline constexpr char16_t kSbshSuffix[] = u"_sbsh.jpg";
inline constexpr char16_t kOuhSuffix[] = u"_ouh.jpg";
inline constexpr char16_t kExifSuffix[] = u"_EXIF.jpg";
inline constexpr std::array<const char16_t*, 6> kOutputSuffixes = {
    kLeftSuffix, kRightSuffix, kSbsSuffix, kSbshSuffix, kOuhSuffix, kExifSuffix};
// The command line's further outputs.
inline constexpr char16_t kAnaglyphSuffix[] = u"_ana.jpg";
inline constexpr char16_t kCrossSuffix[] = u"_x.jpg";
inline constexpr char16_t kTvSuffix[] = u"_tv.jpg";
inline constexpr char16_t kLosslessSuffix[] = u"_sbs-lossless.jpg";
inline constexpr char16_t kOverUnderSuffix[] = u"_ou.jpg";
// The anaglyph types in the order of their bits in ExtraOutputs: the first,
// red-cyan, is kAnaglyphSuffix.
inline constexpr std::array<const char16_t*, 7> kAnaglyphTypeSuffixes = {
    kAnaglyphSuffix,        u"_ana-gray.jpg",          u"_ana-half-color.jpg",
    u"_ana-color.jpg",      u"_ana-optimized.jpg",     u"_ana-green-magenta.jpg",
    u"_ana-amber-blue.jpg"};
// The interleaved frames: rows, columns, checkerboard.
inline constexpr std::array<const char16_t*, 3> kInterleaveSuffixes = {u"_rows.jpg", u"_cols.jpg",
                                                                       u"_checker.jpg"};
inline constexpr char16_t kWiggleWebpSuffix[] = u"_wiggle.webp";
inline constexpr char16_t kWiggleGifSuffix[] = u"_wiggle.gif";
inline constexpr char16_t kVrSuffix[] = u"_vr.jpg";

// An output that could not be built or written (shown under "Fehlerinfo").
inline constexpr char16_t kSbsFailed[] = u"Die SBS-Datei konnte nicht erstellt werden";
inline constexpr char16_t kSbshFailed[] = u"Die SBS-halb-Datei konnte nicht erstellt werden";
inline constexpr char16_t kOuhFailed[] = u"Die O/U-halb-Datei konnte nicht erstellt werden";
inline constexpr char16_t kExifFailed[] = u"Die JPG-EXIF-Datei konnte nicht erstellt werden";
inline constexpr char16_t kLeftFailed[] = u"Das linke Einzelbild konnte nicht erstellt werden";
inline constexpr char16_t kRightFailed[] = u"Das rechte Einzelbild konnte nicht erstellt werden";
inline constexpr char16_t kAnaglyphFailed[] =
    u"Die Anaglyphen-Datei konnte nicht erstellt werden";
inline constexpr char16_t kCrossFailed[] = u"Die Kreuzblick-Datei konnte nicht erstellt werden";
inline constexpr char16_t kTvFailed[] = u"Die TV-Datei konnte nicht erstellt werden";
inline constexpr char16_t kLosslessFailed[] =
    u"Die verlustfreie SBS-Datei konnte nicht erstellt werden";
inline constexpr char16_t kOverUnderFailed[] = u"Die O/U-Datei konnte nicht erstellt werden";
inline constexpr char16_t kInterleaveFailed[] =
    u"Die verschachtelte Datei konnte nicht erstellt werden";
inline constexpr char16_t kWiggleWebpFailed[] =
    u"Die WebP-Wackelbild-Datei konnte nicht erstellt werden";
inline constexpr char16_t kWiggleGifFailed[] =
    u"Die GIF-Wackelbild-Datei konnte nicht erstellt werden";
inline constexpr char16_t kVrFailed[] = u"Die VR-Datei konnte nicht erstellt werden";

// Why an output was not written, beside the system's own reasons (command
// line only: the file's name, ": ", the reason).
inline constexpr char16_t kReasonUnreadableImage[] = u"Bild nicht lesbar";
inline constexpr char16_t kReasonNoExif[] = u"keine Exif-Daten in der MPO-Datei";
inline constexpr char16_t kReasonNoSideBySide[] = u"keine SBS-Datei";
inline constexpr char16_t kReasonUnknown[] = u"unbekannter Fehler";

// Why the lossless side-by-side was not made (the reason after the file's
// name). The narrow-width reason names the MCU width between its two parts.
inline constexpr char16_t kLosslessUnreadableLeft[] = u"das linke Bild ist kein lesbares JPEG";
inline constexpr char16_t kLosslessUnreadableRight[] = u"das rechte Bild ist kein lesbares JPEG";
inline constexpr char16_t kLosslessDifferentHeight[] = u"die Bildh\u00e4lften sind verschieden hoch";
inline constexpr char16_t kLosslessDifferentComponents[] =
    u"die Bildh\u00e4lften haben verschiedene Farbkomponenten";
inline constexpr char16_t kLosslessDifferentSampling[] =
    u"die Bildh\u00e4lften haben verschiedene Farbunterabtastung";
inline constexpr char16_t kLosslessDifferentQuantisation[] =
    u"die Bildh\u00e4lften haben verschiedene Quantisierungstabellen";
inline constexpr char16_t kLosslessNarrowBefore[] =
    u"die Breite des linken Bildes ist kein Vielfaches von ";
inline constexpr char16_t kLosslessNarrowAfter[] = u" Pixeln";
inline constexpr char16_t kLosslessTooLarge[] = u"die Bildh\u00e4lften sind zusammen zu gro\u00df";
inline constexpr char16_t kLosslessNoMemory[] = u"es ist nicht genug Arbeitsspeicher frei";

// The command line's --join. Reasons follow the file's name and a blank.
inline constexpr char16_t kJoinNotJpeg[] = u"ist keine JPEG-Datei";
inline constexpr char16_t kJoinIsDirectory[] = u"ist ein Verzeichnis";
inline constexpr char16_t kJoinNotRegular[] = u"ist keine regul\u00e4re Datei";
inline constexpr char16_t kJoinMissing[] = u"existiert nicht";
inline constexpr char16_t kJoinIsInput[] = u"ist eine der Eingabedateien und wird nicht \u00fcberschrieben";
inline constexpr char16_t kJoinTooLarge[] = u"Bilder zu gro\u00df f\u00fcr eine MPO-Datei";
// Notes (under "Hinweis"): what of an input was left out (followed by
// the number), and a joined file the byte search does not part. "<name>: "
// comes first.
inline constexpr char16_t kJoinDroppedImages[] =
    u"nur das erste Bild wird \u00fcbernommen, ohne die weiteren Bilder seines MP-Index: ";
inline constexpr char16_t kJoinDroppedBytes[] =
    u"nur das erste Bild wird \u00fcbernommen, ohne die Bytes hinter seinem Ende: ";
inline constexpr char16_t kJoinOnlyByIndex[] =
    u"die Bildh\u00e4lften sind so verschieden gro\u00df, dass dieses Programm die Datei nur mit "
    u"--mp-index wieder trennt";
// Usage errors of --join.
inline constexpr char16_t kJoinNeedsFiles[] = u"--join braucht LINKS.jpg RECHTS.jpg AUS.mpo";
inline constexpr char16_t kJoinNoPath[] = u"--join nimmt keinen PFAD";
inline constexpr char16_t kJoinTwice[] = u"--join nur einmal angeben";
inline constexpr char16_t kJoinNoOptions[] = u"--join nimmt keine weiteren Optionen: ";

// The stereo correction (command line only): the corrected pair's file,
// notes shown under "Hinweis" and followed by '\r' and the MPO, and the
// report's status words.
inline constexpr char16_t kAlignedSuffix[] = u"_aligned.mpo";
inline constexpr char16_t kAlignedFailed[] =
    u"Die ausgerichtete MPO-Datei konnte nicht erstellt werden";
inline constexpr char16_t kAlignTooFewMatches[] =
    u"Zu wenige \u00fcbereinstimmende Bildmerkmale (Himmel, Nebel, eine glatte Fl\u00e4che): "
    u"das Bildpaar bleibt unausgerichtet";
inline constexpr char16_t kAlignImplausible[] =
    u"Die gemessene Abweichung ist gr\u00f6\u00dfer, als ein Kamerapaar verstellt sein kann "
    u"(mehr als 5 Grad, 10 % der H\u00f6he oder 10 % im Ma\u00dfstab): das Bildpaar bleibt "
    u"unausgerichtet";
inline constexpr char16_t kStereoUnequal[] =
    u"Die beiden Bilder sind verschieden gro\u00df: das Bildpaar bleibt unver\u00e4ndert";
inline constexpr char16_t kWindowNoDisparity[] =
    u"Keine Disparit\u00e4t messbar: das Stereofenster bleibt, wie es ist";
inline constexpr char16_t kWindowTooWide[] =
    u"Die Verschiebung ist breiter als das Bild: das Stereofenster bleibt, wie es ist";
inline constexpr char16_t kDepthHardToView[] =
    u"Die Tiefe des Bildpaars betr\u00e4gt mehr als 1/30 der Bildbreite: es kann schwer zu "
    u"betrachten sein";
inline constexpr char16_t kReportFailed[] = u"Der Bericht konnte nicht geschrieben werden";
inline constexpr char kStatusAligned[] = "ausgerichtet";
inline constexpr char kStatusAlreadyAligned[] = "schon_ausgerichtet";
inline constexpr char kStatusTooFewMatches[] = "zu_wenig_merkmale";
inline constexpr char kStatusImplausible[] = "unplausibel";
inline constexpr char kStatusUnequal[] = "ungleiche_bilder";
inline constexpr char kStatusUnreadable[] = "nicht_lesbar";
inline constexpr char kStatusNoDisparity[] = "keine_disparitaet";
inline constexpr char kStatusWindowTooWide[] = "fenster_zu_breit";
inline constexpr char kStatusWindow[] = "fenster";
inline constexpr char kStatusUnchanged[] = "unveraendert";  // no correction asked for

}  // namespace mpo::texts
