// Message boxes of the program. With a display they are Qt message boxes;
// on a headless run (no display, or Qt's offscreen / minimal platform) the
// text goes to standard error and the box answers with its safe choice.
#pragma once

#include <functional>
#include <string>

namespace quillon {

enum class BoxIcon { kInformation, kQuestion, kError };
enum class BoxButtons { kOk, kCancel, kYesNo };
enum class BoxAnswer { kOk, kCancel, kYes, kNo };

// `text` is in Windows-1252, as every text of the word table.
BoxAnswer ShowMessageBox(const std::string& text, BoxIcon icon,
                         BoxButtons buttons);

// True when boxes can be shown to a person: a GUI application on a real
// windowing platform.
bool DisplayAvailable();

// Before the application object is made: with no display at all (no
// DISPLAY, no WAYLAND_DISPLAY, no platform asked for), Qt's offscreen
// platform, so the program and the tools still run, hidden.
void UseOffscreenPlatformWithoutDisplay();

// Replaces how boxes are shown (tests record and answer them); an empty
// function restores the default.
using MessageBoxFunction =
    std::function<BoxAnswer(const std::string& text, BoxIcon, BoxButtons)>;
void SetMessageBoxFunction(MessageBoxFunction function);

}  // namespace quillon
