#include "module/stdout_sink.hpp"

#include "module/errors.hpp"

#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

namespace ntpepmap::module {

void StdoutSink::write(std::string_view report) {
    while (!report.empty()) {
        const ssize_t written = ::write(STDOUT_FILENO, report.data(), report.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw Abort(std::string("failed printing to stdout: ") + std::strerror(errno));
        }
        report.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace ntpepmap::module
