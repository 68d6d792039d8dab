#pragma once

#include <string>

namespace quorbit::platform {

// The texts a user sees, in the user's language: the message catalogues of the domain
// "quorbit" (po/). The English text is the message id and the answer wherever no catalogue
// has the text (no catalogue installed, the "C" locale, a language nobody translated).
// Logs, --help and command-line messages stay English and do not pass through here.
inline constexpr const char* kTextDomain = "quorbit";

// text in the user's language.
std::string tr(const char* text);
// text in the user's language where the same English word means different things: context
// tells the translator which (the catalogue keys it as context + '\4' + text).
std::string trc(const char* context, const char* text);
// The form for the number n: one ("1 second") or many ("%d seconds"), by the language's
// plural rule.
std::string trn(const char* one, const char* many, unsigned long n);
// Marks a text kept in a constant for the catalogue; tr() translates it where it is shown.
constexpr const char* N_(const char* text) {
    return text;
}

// Once at start, before any text is shown: the user's locale (LC_ALL from the environment)
// and the catalogues of the domain, found in localeDir() and read as UTF-8. Numbers and the
// character type stay in the "C" locale (see Translate.cpp).
void startTranslations();

// Where the catalogues are: "locale" beside the program (the build tree), else share/locale
// of the program's prefix, else the configured install prefix's.
std::string localeDir();

}  // namespace quorbit::platform
