// The configurator dialog held in memory: the controls of the dialog template with their texts,
// list entries, selections and enabled states, behaving like the platform's controls where the
// dialog logic depends on it. valdrix-config fills and reads it; tests drive it like a user.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dialog/dialog.h"

namespace valdrix {

class MemoryDialog : public Dialog {
 public:
  MemoryDialog();

  // Where the controls' notifications go (the dialog logic's command handler): id, code.
  void SetCommandHandler(std::function<void(int, int)> handler) { handler_ = std::move(handler); }
  // Called when an error box is shown (the box is modal: the conversation waits meanwhile).
  std::function<void(const std::string&)> onErrorBox;

  // --- the dialog seam
  void SetText(int id, const std::string& text) override;
  void Enable(int id, bool enable) override;
  void Repaint(int) override {}
  std::string EditText(int id) override;
  void AddEntry(int id, const std::string& text) override;
  std::string CurrentEntry(int id) override;
  void SelectEntry(int id, const std::string& text) override;
  void ClearSelection(int id) override;
  void ErrorBox(const std::string& text) override;
  void End(int result) override;

  // --- what a user does; each returns false when the control is disabled and nothing happens
  // Chooses the entry with exactly this text from a drop-down list and confirms it.
  bool Choose(int id, const std::string& entry);
  // Selects the edit's text and types over it; digit-only edits refuse other characters.
  bool Type(int id, const std::string& text);
  // Clicks a push button.
  bool Press(int id);

  // --- what the dialog shows
  std::string Text(int id) const;
  bool Enabled(int id) const;
  const std::vector<std::string>& Entries(int id) const;
  int Selection(int id) const;  // -1: none
  bool Ended() const { return ended_; }

 private:
  struct Control {
    enum class Type { Button, Static, ComboBox, Edit } type = Type::Static;
    std::string text;
    bool enabled = true;
    bool digitsOnly = false;
    std::vector<std::string> entries;
    int selection = -1;
  };
  Control& At(int id);
  const Control& At(int id) const;
  void Notify(int id, int code);

  std::map<int, Control> controls_;
  std::function<void(int, int)> handler_;
  bool ended_ = false;
};

}  // namespace valdrix
