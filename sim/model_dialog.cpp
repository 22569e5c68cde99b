#include "sim/model_dialog.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "ui/controls.h"

namespace valdrix {
namespace {

bool StartsWithIgnoringCase(const std::string& entry, const std::string& prefix) {
  if (prefix.size() > entry.size())
    return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const auto a = static_cast<unsigned char>(entry[i]);
    const auto b = static_cast<unsigned char>(prefix[i]);
    if (std::tolower(a) != std::tolower(b))
      return false;
  }
  return true;
}

}  // namespace

ModelDialog::ModelDialog() {
  using T = Control::Type;
  // The template's initial state: only the port list, Close and the labels start enabled.
  const auto add = [this](int id, T type, const char* text, bool enabled, bool digitsOnly) {
    Control& c = controls_[id];
    c.type = type;
    c.text = text;
    c.enabled = enabled;
    c.digitsOnly = digitsOnly;
  };
  add(IDOK, T::Button, "Apply", false, false);
  add(IDCANCEL, T::Button, "Close", true, false);
  add(IDC_PORT, T::ComboBox, "", true, false);
  add(IDC_RATE, T::ComboBox, "", false, false);
  add(IDC_XN_ADDRESS, T::ComboBox, "", false, false);
  add(IDC_BASE_ADDRESS, T::Edit, "", false, true);
  add(IDC_MODULES16, T::Edit, "", false, true);
  add(IDC_MODULES8, T::Edit, "", false, false);
  add(IDC_STATUS, T::Static, STATUS_SELECT_PORT, true, false);
  add(IDC_VERSION, T::Edit, "", false, true);
}

ModelDialog::Control& ModelDialog::At(int id) {
  const auto it = controls_.find(id);
  if (it == controls_.end())
    throw std::out_of_range("no control " + std::to_string(id));
  return it->second;
}

const ModelDialog::Control& ModelDialog::At(int id) const {
  return const_cast<ModelDialog*>(this)->At(id);
}

void ModelDialog::Notify(int id, int code) {
  if (handler_)
    handler_(id, code);
}

void ModelDialog::SetText(int id, const std::string& text) {
  Control& control = At(id);
  control.text = text;
  events_.push_back({Event::Kind::SetText, id, text});
  // An edit reports every change of its text at once, whoever made it, disabled or not.
  if (control.type == Control::Type::Edit)
    Notify(id, VALDRIX_EN_CHANGE);
}

void ModelDialog::Enable(int id, bool enable) {
  At(id).enabled = enable;
  events_.push_back({enable ? Event::Kind::Enable : Event::Kind::Disable, id, {}});
}

void ModelDialog::Repaint(int id) {
  At(id);
  events_.push_back({Event::Kind::Repaint, id, {}});
}

std::string ModelDialog::EditText(int id) {
  return At(id).text.substr(0, MAX_EDIT_TEXT);
}

void ModelDialog::AddEntry(int id, const std::string& text) {
  At(id).entries.push_back(text);
}

std::string ModelDialog::CurrentEntry(int id) {
  const Control& control = At(id);
  if (control.selection < 0)
    return {};
  return control.entries[static_cast<std::size_t>(control.selection)];
}

void ModelDialog::SelectEntry(int id, const std::string& text) {
  Control& control = At(id);
  events_.push_back({Event::Kind::Select, id, text});
  // Like CB_SELECTSTRING from the start: the first entry that begins with the text.
  const auto it =
      std::find_if(control.entries.begin(), control.entries.end(),
                   [&](const std::string& e) { return StartsWithIgnoringCase(e, text); });
  if (it != control.entries.end()) {
    control.selection = static_cast<int>(it - control.entries.begin());
  }
}

void ModelDialog::ClearSelection(int id) {
  At(id).selection = -1;
  events_.push_back({Event::Kind::ClearSelection, id, {}});
}

void ModelDialog::ErrorBox(const std::string& text) {
  events_.push_back({Event::Kind::ErrorBox, 0, text});
  if (onErrorBox)
    onErrorBox(text);
}

void ModelDialog::End(int result) {
  events_.push_back({Event::Kind::End, 0, std::to_string(result)});
  ended_ = true;
  result_ = result;
}

bool ModelDialog::Choose(int id, const std::string& entry) {
  Control& control = At(id);
  if (!control.enabled || control.type != Control::Type::ComboBox)
    return false;
  const auto it = std::find(control.entries.begin(), control.entries.end(), entry);
  if (it == control.entries.end())
    return false;
  control.selection = static_cast<int>(it - control.entries.begin());
  Notify(id, VALDRIX_CBN_SELENDOK);
  return true;
}

bool ModelDialog::Type(int id, const std::string& text) {
  Control& control = At(id);
  if (!control.enabled || control.type != Control::Type::Edit)
    return false;
  std::string typed;
  for (const char c : text) {
    if (!control.digitsOnly || (c >= '0' && c <= '9'))
      typed += c;
  }
  control.text = typed;
  Notify(id, VALDRIX_EN_CHANGE);
  return true;
}

bool ModelDialog::Press(int id) {
  Control& control = At(id);
  if (!control.enabled || control.type != Control::Type::Button)
    return false;
  Notify(id, VALDRIX_BN_CLICKED);
  return true;
}

std::string ModelDialog::Text(int id) const {
  return At(id).text;
}
bool ModelDialog::Enabled(int id) const {
  return At(id).enabled;
}
const std::vector<std::string>& ModelDialog::Entries(int id) const {
  return At(id).entries;
}
int ModelDialog::Selection(int id) const {
  return At(id).selection;
}

std::vector<std::string> ModelDialog::Statuses() const {
  std::vector<std::string> texts;
  for (const Event& e : events_) {
    if (e.kind == Event::Kind::SetText && e.id == IDC_STATUS)
      texts.push_back(e.text);
  }
  return texts;
}

std::vector<std::string> ModelDialog::ErrorBoxes() const {
  std::vector<std::string> texts;
  for (const Event& e : events_) {
    if (e.kind == Event::Kind::ErrorBox)
      texts.push_back(e.text);
  }
  return texts;
}

}  // namespace valdrix
