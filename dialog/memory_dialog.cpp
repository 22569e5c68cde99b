#include "dialog/memory_dialog.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "dialog/dialog_template.h"

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

constexpr bool SameText(const char* a, const char* b) {
  return *a == *b && (*a == '\0' || SameText(a + 1, b + 1));
}
constexpr const char* TemplateText(int id, std::size_t i = 0) {
  return TEMPLATE_CONTROLS[i].id == id ? TEMPLATE_CONTROLS[i].text : TemplateText(id, i + 1);
}
// A search that finds nothing puts the status line back to its template text.
static_assert(SameText(TemplateText(IDC_STATUS), STATUS_SELECT_PORT));

}  // namespace

MemoryDialog::MemoryDialog() {
  for (const TemplateControl& t : TEMPLATE_CONTROLS) {
    Control& c = controls_[t.id];
    const std::string kind = t.kind;
    c.type = kind == "Button"     ? Control::Type::Button
             : kind == "ComboBox" ? Control::Type::ComboBox
             : kind == "Edit"     ? Control::Type::Edit
                                  : Control::Type::Static;
    c.text = t.text;
    c.enabled = !(t.styles & TemplateControl::Disabled);
    c.digitsOnly = t.styles & TemplateControl::DigitsOnly;
  }
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
  // Each key replaces the selected text; keys the edit refuses leave it as it was.
  if (typed.empty() && !text.empty())
    return true;
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
