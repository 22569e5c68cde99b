// The in-memory dialog, recording what the conversations did to it, in order.
#pragma once

#include <string>
#include <vector>

#include "dialog/controls.h"
#include "dialog/memory_dialog.h"

namespace valdrix {

class RecordingDialog : public MemoryDialog {
 public:
  struct Event {
    enum class Kind { SetText, Enable, Disable, Repaint, Select, ClearSelection, ErrorBox };
    Kind kind;
    int id = 0;
    std::string text;
  };

  void SetText(int id, const std::string& text) override {
    events_.push_back({Event::Kind::SetText, id, text});
    MemoryDialog::SetText(id, text);
  }
  void Enable(int id, bool on) override {
    events_.push_back({on ? Event::Kind::Enable : Event::Kind::Disable, id, {}});
    MemoryDialog::Enable(id, on);
  }
  void Repaint(int id) override { events_.push_back({Event::Kind::Repaint, id, {}}); }
  void SelectEntry(int id, const std::string& text) override {
    events_.push_back({Event::Kind::Select, id, text});
    MemoryDialog::SelectEntry(id, text);
  }
  void ClearSelection(int id) override {
    events_.push_back({Event::Kind::ClearSelection, id, {}});
    MemoryDialog::ClearSelection(id);
  }
  void ErrorBox(const std::string& text) override {
    events_.push_back({Event::Kind::ErrorBox, 0, text});
    MemoryDialog::ErrorBox(text);
  }

  const std::vector<Event>& Events() const { return events_; }
  // The texts of the given kind of event, for one control (any control: id 0).
  std::vector<std::string> Texts(Event::Kind kind, int id = 0) const {
    std::vector<std::string> texts;
    for (const Event& e : events_) {
      if (e.kind == kind && (id == 0 || e.id == id))
        texts.push_back(e.text);
    }
    return texts;
  }
  std::vector<std::string> Statuses() const { return Texts(Event::Kind::SetText, IDC_STATUS); }
  std::vector<std::string> ErrorBoxes() const { return Texts(Event::Kind::ErrorBox); }

 private:
  std::vector<Event> events_;
};

}  // namespace valdrix
