#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quorbit::platform {

// Opens a URL in another application: the browser, or whatever application is registered
// for the URL's scheme. Answers whether it was opened.
//
// On the desktop this is xdg-open, asked only when xdg-mime names a handler for the scheme
// (x-scheme-handler/SCHEME): a scheme nobody handles answers false at once. Web URLs
// (http, https) go to xdg-open even when xdg-mime names nobody, since xdg-open finds a
// browser by other means too. When $QUORBIT_URL_OPENER is set, that command (run by
// /bin/sh, the URL as its one argument) replaces the whole desktop: its exit status alone
// says whether the URL was taken.
//
// Opening waits for the opener to exit, at most launchWait; one still running then (a
// browser started in the foreground) counts as opened and is reaped when it ends. Callable
// from any thread.
class UrlOpener {
  public:
    struct Commands {
        // The URL is appended as the last argument.
        std::vector<std::string> open{"xdg-open"};
        // "x-scheme-handler/SCHEME" is appended; the handler is what it prints. Empty: no
        // check, the opener decides.
        std::vector<std::string> handlerQuery{"xdg-mime", "query", "default"};
        std::chrono::milliseconds launchWait{3000};
    };

    static UrlOpener& shared();
    static Commands commandsFromEnvironment();

    UrlOpener();
    explicit UrlOpener(Commands commands);

    bool openURL(const std::string& url);
    // The registered handler of a scheme ("" when none or the query failed).
    std::string handlerForScheme(const std::string& scheme);

    Commands commands() const;
    void setCommands(Commands commands);

    // The scheme of url, lower case, or empty when url does not start with one.
    static std::optional<std::string> schemeOf(const std::string& url);

  private:
    mutable std::mutex _mutex;
    Commands _commands;
};

}  // namespace quorbit::platform
