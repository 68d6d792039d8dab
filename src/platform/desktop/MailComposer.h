#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"

namespace quorbit::platform {

// Why a message could not be handed to the mail program.
enum class MailError : long {
    AttachmentUnwritable = 1,  // the attachment's folder or file could not be written
    CannotRun = 2,             // the mail program could not be started
    NotTaken = 3,              // it ended with a failure status, or was killed
};
constexpr const char* errorDomain(MailError) {
    return "quorbit.mail";
}

// One message for the user's mail program: a subject, a plain-text body and one attached
// file given by its name (without folder), its media type and its bytes.
struct MailMessage {
    std::string subject;
    std::string body;
    std::string attachmentName;
    std::string attachmentType;
    std::string attachmentData;
    // A file attached as it is, in place of the bytes (a clip too large to copy); the
    // program reads it where it lies.
    std::filesystem::path attachmentFile;
};

// Hands a message to the desktop's mail composer: the attachment is written to a file of
// its own in a private folder (0700) under the temporary folder, and the composer command
// runs as `COMMAND --subject S --body B --attach FILE`. The command is $QUORBIT_MAIL_COMMAND
// (a program looked up on PATH) or xdg-email. The attachment stays where it was written,
// since the mail program reads it after the command has returned.
//
// compose() returns at once; done is called on the main thread when the command has exited:
// with no error when it exited with status 0, else with a readable error.
class MailComposer {
  public:
    using Done = std::function<void(const std::optional<Error>& error)>;

    static std::string commandFromEnvironment();

    // The file written for message, or an error when it could not be written (then the
    // command is not run and done is not called).
    static Result<std::filesystem::path> compose(const MailMessage& message, Done done);

    // The argument vector for command with an attachment file (exposed for tests).
    static std::vector<std::string> arguments(const std::string& command,
                                              const MailMessage& message,
                                              const std::filesystem::path& attachment);

  private:
    // Runs the composer on file and answers done when it has exited.
    static Result<std::filesystem::path> start(const MailMessage& message,
                                               const std::filesystem::path& file, Done done);
};

}  // namespace quorbit::platform
