// What the dialogs share: information boxes and the save-file choice (both replaceable by
// tests), checks run when the focus leaves a box, and the parameter controls that name
// their key in the form.
#pragma once

#include <QString>

#include <functional>

class QFileDialog;
class QWidget;

struct SZubDialogHooks
{
    // Replaces the information box; null shows the box.
    std::function<void(QWidget* parent, const QString& text)> message;
    // Replaces running the prepared save dialog: returns the chosen path or "" to cancel.
    std::function<QString(QFileDialog& dialog)> chooseFile;
};
SZubDialogHooks& ZubDialogHooks();

// A plain information box with one OK button, titled with the program's name.
void ZubInfoBox(QWidget* parent, const QString& text);
// A save dialog with the overwrite prompt; the suffix is added to a name given without one.
// "" when the user cancels.
QString ZubChooseSaveFile(QWidget* parent, const QString& defaultName, const QString& suffix,
                          const QString& filter);
// A folder to write into (the same test hook as the files).
QString ZubChooseFolder(QWidget* parent, const QString& caption);

// Runs `check` when the focus leaves `box` for another control (not when a message box or
// another window takes it, nor when Enter confirms the dialog).
void ZubOnFocusLeave(QWidget* box, std::function<void()> check);

// Controls with a "zubKey" property edit that key of a settings section: a check box a
// flag, a line edit or spin box an integer. A line edit with "zubDigitsOnly" set takes
// digit keys only. Call once after the form is set up.
void ZubPrepareKeyedControls(QWidget* form);
void ZubLoadKeyedControls(QWidget* form, const char* section);
// Shows "Escriba un entero." for the first integer box without an integer, which gets the
// focus; false then.
bool ZubCheckKeyedIntegers(QWidget* form);
// Writes every keyed control to the parameters; call after ZubCheckKeyedIntegers.
void ZubStoreKeyedControls(QWidget* form, const char* section);

// The integer a box holds, as ZubParseDialogInt reads it.
bool ZubBoxInt(const QWidget* box, int& value);
void ZubSetBoxInt(QWidget* box, int value);
