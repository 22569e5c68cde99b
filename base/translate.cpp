#include "base/translate.h"

#include <atomic>

namespace valdrix {
namespace {

std::atomic<Translator> current{nullptr};

}  // namespace

const char* Translate(const char* english) {
  const Translator translator = current.load();
  return translator ? translator(english) : english;
}

void SetTranslator(Translator translator) {
  current.store(translator);
}

}  // namespace valdrix
