// Texts a person reads, in the user's language: German, Dutch or French from the catalogues in
// po/, else English. The portable layers call Translate; each program sets, once at its start, the
// lookup its platform expects (gettext, Qt's translator, the Win32 string tables). Until then, and
// for a text no catalogue has, the English text itself comes back, so tests see English.
// Never translated: JSON keys, reason words, option names, frames and whatever a script matches.
#pragma once

// N_ marks a text for the catalogues where it is written; it is translated where it is shown.
// T_ marks and translates at once. xgettext knows both (scripts/update-po.sh).
#define N_(text) text
#define T_(text) ::valdrix::Translate(text)

namespace valdrix {

// Returns a text that lives for the whole run.
using Translator = const char* (*)(const char* english);

const char* Translate(const char* english);
void SetTranslator(Translator translator);

// The command line's lookup: gettext's catalogue "valdrix" for the system's language, read from
// locale/<lang>/LC_MESSAGES/ beside the program when that folder exists (the build tree, the
// Windows zip), else from the installed ones. POSIX: the C library's gettext, after setlocale;
// Win32: a small reader of the same .mo files, for the user's UI language.
void UseMessageCatalogue();

}  // namespace valdrix
