// kvox's subcommands once the command line is parsed. Each prints its own errors (naming the file and the
// reason) and returns the process exit status: 0 when all went well, 1 when anything failed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/codes.h"

int RunInfo(const std::vector<std::string>& files, std::optional<kvox_coding> raw_format, bool json);
int RunDecode(const std::string& input, const std::string& output, std::optional<kvox_coding> raw_format);
// `raw_format`: the coding of a raw VOX input (--from), since --format names the output's.
int RunEncode(const std::string& input, const std::string& output, kvox_coding coding, bool no_header,
              std::optional<kvox_coding> raw_format);
int RunFormats();
