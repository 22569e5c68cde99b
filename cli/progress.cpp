#include "cli/jobs.h"
#include "dialog/controls.h"

namespace valdrix::cli {

void ProgressDialog::SetText(int id, const std::string& text) {
  const bool changed = id == IDC_STATUS && Text(IDC_STATUS) != text;
  MemoryDialog::SetText(id, text);
  if (changed)
    Say(text);
}

void ProgressDialog::Say(const std::string& line) {
  if (progress_)
    *progress_ << (prefix_ + line + "\n") << std::flush;
}

}  // namespace valdrix::cli
