#include "platform/core/Translate.h"

#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace quorbit::platform {
namespace fs = std::filesystem;

std::string tr(const char* text) {
    return dgettext(kTextDomain, text);
}

std::string trc(const char* context, const char* text) {
    std::string key = std::string(context) + '\4' + text;
    const char* found = dgettext(kTextDomain, key.c_str());
    // An untranslated key comes back as itself, context and all.
    return found == key.c_str() || std::strcmp(found, key.c_str()) == 0 ? text : found;
}

std::string trn(const char* one, const char* many, unsigned long n) {
    return dngettext(kTextDomain, one, many, n);
}

std::string localeDir() {
    // A catalogue of any language marks a folder that holds them.
    auto holdsCatalogues = [](const fs::path& dir) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            if (fs::exists(entry.path() / "LC_MESSAGES" / "quorbit.mo", ec)) return true;
        }
        return false;
    };
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        for (fs::path candidate :
             {exe.parent_path() / "locale", exe.parent_path().parent_path() / "share" / "locale"}) {
            if (holdsCatalogues(candidate)) return candidate.string();
        }
    }
#ifdef QUORBIT_INSTALL_LOCALEDIR
    return QUORBIT_INSTALL_LOCALEDIR;
#else
    return "/usr/share/locale";
#endif
}

void startTranslations() {
    std::setlocale(LC_ALL, "");
    // Numbers the program writes or reads (the settings file, JSON, URLs, script arguments,
    // printf and strtod, std::to_string) keep the '.' decimal point whatever the language:
    // a German locale would write 0,5 and read "0.5" as 0.
    std::setlocale(LC_NUMERIC, "C");
    // The character type stays "C": under a UTF-8 one SDL's X11 backend opens an X input
    // method for the window, and clicks in a real X11 window went unanswered. Messages come
    // out as UTF-8 all the same (the codeset below).
    std::setlocale(LC_CTYPE, "C");
    // gettext ignores LANGUAGE in the "C" locale. Where no locale is set (a bare session, a
    // container) but LANGUAGE names a language, the user asked for it: messages take the C
    // locale's UTF-8 form, in which LANGUAGE counts.
    const char* messages = std::setlocale(LC_MESSAGES, nullptr);
    const char* language = std::getenv("LANGUAGE");
    if (language && *language && messages &&
        (std::strcmp(messages, "C") == 0 || std::strcmp(messages, "POSIX") == 0))
        std::setlocale(LC_MESSAGES, "C.UTF-8");
    bindtextdomain(kTextDomain, localeDir().c_str());
    bind_textdomain_codeset(kTextDomain, "UTF-8");
}

}  // namespace quorbit::platform
