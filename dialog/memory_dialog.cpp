#include "dialog/memory_dialog.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "dialog/controls.h"

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

MemoryDialog::MemoryDialog() {
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

MemoryDialog::Control& MemoryDialog::At(int id) {
  const auto it = controls_.find(id);
  if (it == controls_.end())
    throw std::out_of_range("no control " + std::to_string(id));
  return it->second;
}

const MemoryDialog::Control& MemoryDialog::At(int id) const {
  return const_cast<MemoryDialog*>(this)->At(id);
}

void MemoryDialog::Notify(int id, int code) {
  if (handler_)
    handler_(id, code);
}

void MemoryDialog::SetText(int id, const std::string& text) {
  Control& control = At(id);
  control.text = text;
  // An edit reports every change of its text at once, whoever made it, disabled or not.
  if (control.type == Control::Type::Edit)
    Notify(id, VALDRIX_EN_CHANGE);
}

void MemoryDialog::Enable(int id, bool enable) {
  At(id).enabled = enable;
}

std::string MemoryDialog::EditText(int id) {
  return At(id).text.substr(0, MAX_EDIT_TEXT);
}

void MemoryDialog::AddEntry(int id, const std::string& text) {
  At(id).entries.push_back(text);
}

std::string MemoryDialog::CurrentEntry(int id) {
  const Control& control = At(id);
  if (control.selection < 0)
    return {};
  return control.entries[static_cast<std::size_t>(control.selection)];
}

void MemoryDialog::SelectEntry(int id, const std::string& text) {
  Control& control = At(id);
  // Like CB_SELECTSTRING from the start: the first entry that begins with the text.
  const auto it =
      std::find_if(control.entries.begin(), control.entries.end(),
                   [&](const std::string& e) { return StartsWithIgnoringCase(e, text); });
  if (it != control.entries.end()) {
    control.selection = static_cast<int>(it - control.entries.begin());
  }
}

void MemoryDialog::ClearSelection(int id) {
  At(id).selection = -1;
}

void MemoryDialog::ErrorBox(const std::string& text) {
  if (onErrorBox)
    onErrorBox(text);
}

void MemoryDialog::End(int) {
  ended_ = true;
}

bool MemoryDialog::Choose(int id, const std::string& entry) {
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

bool MemoryDialog::Type(int id, const std::string& text) {
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

bool MemoryDialog::Press(int id) {
  Control& control = At(id);
  if (!control.enabled || control.type != Control::Type::Button)
    return false;
  Notify(id, VALDRIX_BN_CLICKED);
  return true;
}

std::string MemoryDialog::Text(int id) const {
  return At(id).text;
}
bool MemoryDialog::Enabled(int id) const {
  return At(id).enabled;
}
const std::vector<std::string>& MemoryDialog::Entries(int id) const {
  return At(id).entries;
}
int MemoryDialog::Selection(int id) const {
  return At(id).selection;
}

}  // namespace valdrix
