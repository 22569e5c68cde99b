// The dialog seam: the few operations the conversations perform on the dialog's controls. The
// Win32 program implements it on a real dialog; tests and the command line on a model dialog.
#pragma once

#include <string>

#include "base/translate.h"

namespace valdrix {

// Shown through SetStatus, ErrorText and the error boxes, which translate them.
constexpr char STATUS_SELECT_PORT[] = N_("Status: Please select a COM port");
constexpr char STATUS_SEARCHING[] = N_("Status: Searching...");
constexpr char STATUS_READING[] = N_("Status: Reading...");
constexpr char STATUS_OPENING[] = N_("Status: Opening Valdrix...");
constexpr char STATUS_ENTER_VALUES[] = N_("Status: Enter values and press Apply");
constexpr char STATUS_WRITING[] = N_("Status: Writing...");
constexpr char STATUS_CLOSING[] = N_("Status: Closing Valdrix...");

constexpr char ERROR_CAPTION[] = N_("Error");
constexpr char PATTERN_OPEN[] = N_("Could not open %s");
constexpr char PATTERN_WRITE[] = N_("Could not write to %s");
constexpr char PATTERN_NOT_FOUND[] = N_("No Valdrix found on %s");

// Texts read from an edit are cut to this many characters (a 256-byte buffer read with a limit
// of 255 including the terminator).
constexpr std::size_t MAX_EDIT_TEXT = 254;

class Dialog {
 public:
  virtual ~Dialog() = default;

  virtual void SetText(int id, const std::string& text) = 0;
  virtual void Enable(int id, bool enable) = 0;
  // Repaints at once: no messages are processed while a conversation runs.
  virtual void Repaint(int id) = 0;
  // At most MAX_EDIT_TEXT characters.
  virtual std::string EditText(int id) = 0;
  virtual void AddEntry(int id, const std::string& text) = 0;
  // The text of the list's current entry; empty when no entry is selected.
  virtual std::string CurrentEntry(int id) = 0;
  // Selects the first entry that begins with text (ignoring case); no match leaves the selection.
  virtual void SelectEntry(int id, const std::string& text) = 0;
  virtual void ClearSelection(int id) = 0;
  // Modal: returns when the user has dismissed it. Caption "Error", one OK button.
  virtual void ErrorBox(const std::string& text) = 0;
  virtual void End(int result) = 0;
};

void SetStatus(Dialog& dialog, const char* text);

// pattern is one of the PATTERN_ texts; the port name takes the place of "%s".
std::string ErrorText(const char* pattern, const std::string& port);
void ShowError(Dialog& dialog, const char* pattern, const std::string& port);

}  // namespace valdrix
