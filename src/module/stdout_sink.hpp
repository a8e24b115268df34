#pragma once

#include "translator/amino_acid_translator.hpp"

#include <string_view>

namespace ntpepmap::module {

// Writes each report whole to file descriptor 1, bypassing sys.stdout, so that
// reports reach the process's standard output in the order they are made.
// A failed write aborts the call.
class StdoutSink final : public ReportSink {
public:
    void write(std::string_view report) override;
};

}  // namespace ntpepmap::module
