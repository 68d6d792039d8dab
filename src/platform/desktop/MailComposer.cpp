#include "platform/desktop/MailComposer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/core/RunLoop.h"

extern char** environ;

namespace quorbit::platform {
namespace {

constexpr const char* kDomain = "MailComposerErrorDomain";

Error failure(long code, const std::string& what) {
    return Error::make(kDomain, code, what);
}

// Writes the whole of data to a new file at path, readable by its owner only.
Result<void> writeNewFile(const std::filesystem::path& path, const std::string& data) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return failure(errno, "cannot write " + path.string() + ": " + strerror(errno));
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int saved = errno;
            ::close(fd);
            std::filesystem::remove(path);
            return failure(saved, "cannot write " + path.string() + ": " + strerror(saved));
        }
        done += std::size_t(n);
    }
    if (::close(fd) != 0) {
        std::filesystem::remove(path);
        return failure(errno, "cannot write " + path.string());
    }
    return {};
}

// A file name that stays inside the folder it is written to.
std::string safeFileName(std::string name) {
    for (char& c : name)
        if (c == '/' || c == '\0') c = '_';
    if (name.empty() || name == "." || name == "..") name = "attachment";
    return name;
}

}  // namespace

std::string MailComposer::commandFromEnvironment() {
    const char* command = std::getenv("QUORBIT_MAIL_COMMAND");
    return command && *command ? command : "xdg-email";
}

std::vector<std::string> MailComposer::arguments(const std::string& command,
                                                 const MailMessage& message,
                                                 const std::filesystem::path& attachment) {
    return {command,      "--subject", message.subject,    "--body",
            message.body, "--attach",  attachment.string()};
}

Result<std::filesystem::path> MailComposer::compose(const MailMessage& message, Done done) {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorbit-mail-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return failure(errno,
                       std::string("cannot make a folder for the attachment: ") + strerror(errno));
    std::filesystem::path file =
        std::filesystem::path(pattern) / safeFileName(message.attachmentName);
    if (auto written = writeNewFile(file, message.attachmentData); !written) {
        std::filesystem::remove(pattern);
        return written.error();
    }

    std::vector<std::string> argv = arguments(commandFromEnvironment(), message, file);
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The composer starts with default signal handling, whatever the application changed.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    int status = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);

    std::string command = argv[0];
    if (status != 0) {
        Error error =
            failure(status, "cannot run the mail program " + command + ": " + strerror(status));
        RunLoop::main().post([done, error] {
            if (done) done(error);
        });
        return file;
    }
    std::thread([pid, command, done] {
        int wstatus = 0;
        while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
        }
        std::optional<Error> error;
        if (!WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0)
            error = failure(WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1,
                            "the mail program " + command + " did not take the message");
        RunLoop::main().post([done, error] {
            if (done) done(error);
        });
    }).detach();
    return file;
}

}  // namespace quorbit::platform
