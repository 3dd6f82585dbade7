// The window's persistent settings: eleven whole numbers in the group "setting"
// of a per-user store. On Windows the store is the registry key
// HKEY_CURRENT_USER\UTAU_plugins\vantle\melodrift; elsewhere the INI file
// UTAU_plugins/vantle/melodrift.ini in the user's configuration folder. Every
// value is kept as a string; a value that is missing or not a whole number
// reads as the key's default.
#pragma once

#include <memory>

#include <QString>

class QSettings;

namespace melodrift {

struct WindowSettings {
    bool Key = true;                  // "key": key check ticked
    bool Pitch = true;                // "pitch": pitch check ticked
    bool Volume = true;               // "volume": volume check ticked
    int HScale = 3;                   // "hscale": zoom arrows position
    int SpectrumRange = 50;           // "SpeqRange": spectrum range bar position, dB
    bool CreateMode = false;          // "CreateMode": voice correction mode
    int CorrectionConsonant = 100;    // "Cr_Consonant", ms
    int CorrectionPreUtterance = 60;  // "Cr_PreUtterance", ms
    int CorrectionOverlap = 20;       // "Cr_VoiceOverlap", ms
    int Mode = 1;                     // "Mode": pitch mode combo item index (0 "Mode1", 1 "Mode2")
    bool Voicing = true;              // "voicing": voicing check ticked
    bool ReplaceSelection = true;     // "ReplaceSelection": the new notes replace the selected ones
};

// The store named above, opened for reading and writing.
std::unique_ptr<QSettings> OpenWindowSettingsStore();

// The stored text as a whole number ("[+-]digits", blanks around allowed), or
// `fallback` when it is missing or anything else.
int WholeNumberOr(const QString& stored, bool present, int fallback);

// Reads the twelve keys in their fixed order.
WindowSettings ReadWindowSettings(QSettings& store);
// Writes the twelve keys in the same order, booleans as "1"/"0", and flushes.
void WriteWindowSettings(QSettings& store, const WindowSettings& settings);

}  // namespace melodrift
