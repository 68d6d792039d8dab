#include "platform/desktop/MailComposer.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/core/FileHandle.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Subprocess.h"

namespace quorbit::platform {
namespace {

// An attachment that could not be written, with the system's reason beneath.
Error unwritable(const std::string& what, int errnum) {
    return Error::make(MailError::AttachmentUnwritable, what + ": " + strerror(errnum), errnum);
}

// Writes the whole of data to a new file at path, readable by its owner only.
Result<void> writeNewFile(const std::filesystem::path& path, const std::string& data) {
    FileHandle file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!file) return unwritable("cannot write " + path.string(), errno);
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(file.fd(), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int saved = n == 0 ? EIO : errno;  // no progress: retrying would loop for ever
            file.reset();
            std::filesystem::remove(path);
            return unwritable("cannot write " + path.string(), saved);
        }
        done += std::size_t(n);
    }
    if (auto closed = file.close(); !closed) {
        std::filesystem::remove(path);
        return unwritable("cannot write " + path.string(), closed.error().systemError());
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
    if (!message.attachmentFile.empty()) return start(message, message.attachmentFile, done);
    std::string pattern = (std::filesystem::temp_directory_path() / "quorbit-mail-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return unwritable("cannot make a folder for the attachment", errno);
    std::filesystem::path file =
        std::filesystem::path(pattern) / safeFileName(message.attachmentName);
    if (auto written = writeNewFile(file, message.attachmentData); !written) {
        std::filesystem::remove(pattern);
        return written.error();
    }
    return start(message, file, done);
}

Result<std::filesystem::path> MailComposer::start(const MailMessage& message,
                                                  const std::filesystem::path& file, Done done) {
    Subprocess::Options composer;
    composer.argv = arguments(commandFromEnvironment(), message, file);
    std::string command = composer.argv.front();
    auto child = Subprocess::spawn(std::move(composer));
    if (!child) {
        int errnum = child.error().systemError();
        Error error =
            Error::make(MailError::CannotRun,
                        "cannot run the mail program " + command + ": " + strerror(errnum), errnum);
        RunLoop::main().post([done, error] {
            if (done) done(error);
        });
        return file;
    }
    // The composer runs as long as the user writes; a thread of its own waits for it.
    std::thread([child = std::move(child).value(), command, done]() mutable {
        Subprocess::Status status = child.wait().value_or(Subprocess::Status{});
        std::optional<Error> error;
        if (!status.succeeded())
            error = Error::make(MailError::NotTaken,
                                "the mail program " + command + " did not take the message");
        RunLoop::main().post([done, error] {
            if (done) done(error);
        });
    }).detach();
    return file;
}

}  // namespace quorbit::platform
