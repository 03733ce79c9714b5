// Identifiers of Vastel's resources and of the controls in its dialogs.
//
// Shared by Vastel.rc and the code that drives the dialogs; the dialogs
// themselves are named by string ("EraseDBDialog", "GetPasswordDialog").
#pragma once

// Both dialogs: the system's own OK and Cancel ids (IDOK, IDCANCEL) are used
// for "Выполнить очистку"/"OK" and "Отмена", so that Enter/Esc handling and
// EndDialog results keep their usual meaning.

// Controls the program never addresses (labels).
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// EraseDBDialog.
#define IDC_ACTIVE_CHANNELS 101  // static: the active channel range, e.g. "1-16"
#define IDC_CONFIRM_EDIT 102     // edit: the confirmation word is typed here
#define IDC_CONFIRM_BUTTON 103   // default button: checks the confirmation word
#define IDC_DIVIDER 104          // etched line above the progress bar
#define IDC_ERASE_PROGRESS 105   // progress bar of the erase
#define IDC_ERASE_ALL 106        // radio: erase every active channel
#define IDC_ERASE_ONE 107        // radio: erase the channel chosen in the list
#define IDC_CHANNEL_LIST 108     // drop-down list of the active channels

// GetPasswordDialog.
#define IDC_PASSWORD_EDIT 101  // edit: the password, shown masked

// Name of the erase dialog's icon without its colour depth: the program
// appends the depth ("8") when it loads it.
#define DATABASE_CLEAR_ICON_BASE_NAME "DatabaseClearDialogIcon"
