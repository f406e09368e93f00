// kvox: the plug-in's command-line host. See `kvox --help` and README.md.
#include <malloc.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "host/batch.h"
#include "host/codes.h"
#include "host/commands.h"
#include "host/output_file.h"
#include "host/version.h"

namespace {

// Exit status for a command line that cannot be carried out as written.
constexpr int UsageStatus = 2;

// A CODE option: the tag in any case, or an alias.
std::string CheckCodingName(const std::string& text) {
  return ParseCodingName(text) ? std::string() : "unknown coding '" + text + "'; use one of " + CodingNameList();
}

std::optional<kvox_coding> CodingOption(const std::string& text) {
  return text.empty() ? std::nullopt : ParseCodingName(text);
}

}  // namespace

int main(int argc, char** argv) {
  // Each file's work allocates a few MiB of buffers. Kept in the heap rather than mapped and unmapped
  // per file, they are reused without page faults, and parallel jobs do not queue on the address space
  // lock that every unmapping takes.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
  PrepareOutputFiles();

  CLI::App app{"kvox: inspect, decode, encode and batch-convert Kestrovan VOX files through the plug-in"};
  app.require_subcommand(1);
  app.set_version_flag("--version", VersionReport, "Print kvox's version and libkvox's, and exit");
  const std::string code_help = "CODE: a tag or alias, " + CodingNameList() + " (any case)";
  app.footer(code_help);

  std::vector<std::string> info_files;
  std::string info_format;
  bool info_json = false;
  CLI::App* info = app.add_subcommand(
      "info",
      "What the plug-in makes of each file: tagged or raw, format, rate, length; for a raw file, also what "
      "its content says of its coding and rate");
  info->add_option("FILE", info_files, "VOX files")->required();
  info->add_option("--format", info_format,
                   "Coding to read raw (untagged) files with (their content is still examined)")
      ->check(CheckCodingName);
  info->add_flag("--json", info_json, "Print a JSON array, one object per file");

  std::string decode_input, decode_output, decode_format;
  CLI::App* decode =
      app.add_subcommand("decode", "VOX file to an audio file (type from OUT's extension, WAV by default)");
  decode->add_option("IN", decode_input, "VOX file, or - for standard input")->required();
  decode
      ->add_option("OUT", decode_output,
                   "Audio file: .wav, .flac, .ogg, .aiff, ...; or - for WAV on standard output, with its true "
                   "sizes (the same bytes as a .wav file)")
      ->required();
  decode
      ->add_option("--format", decode_format,
                   "Coding of a raw (untagged) VOX file, instead of detecting it; a tag always decides")
      ->check(CheckCodingName);

  std::string encode_input, encode_output, encode_format, encode_from;
  bool encode_no_header = false;
  CLI::App* encode = app.add_subcommand("encode", "Any audio file (or VOX file) to a VOX file");
  encode->add_option("IN", encode_input, "Audio file libsndfile reads, or a VOX file; - for standard input")
      ->required();
  encode->add_option("OUT", encode_output, "VOX file to write, or - for standard output")->required();
  encode->add_option("--format", encode_format, "Coding to write")->required()->check(CheckCodingName);
  encode->add_flag("--no-header", encode_no_header, "Write a raw file, without the coding tag");
  encode->add_option("--from", encode_from, "Coding of a raw (untagged) VOX input, instead of detecting it")
      ->check(CheckCodingName);

  BatchRequest batch;
  std::string convert_to, convert_from;
  bool convert_no_header = false;
  CLI::App* convert = app.add_subcommand("convert", "Many files and folders into one output folder, N at a time");
  convert->add_option("PATH", batch.paths, "Files and folders (searched through)")->required();
  convert->add_option("--to", convert_to, "CODE, or wav")->required()->check([](const std::string& text) {
    return text == "wav" || text == "WAV" ? std::string() : CheckCodingName(text);
  });
  convert->add_option("--from", convert_from, "Coding of raw (untagged) VOX inputs, instead of detecting it")
      ->check(CheckCodingName);
  convert->add_flag("--no-header", convert_no_header, "With --to CODE: write raw files, without the coding tag");
  convert->add_option("-j,--jobs", batch.jobs, "Files converted at the same time")
      ->check(CLI::Range(1, 64))
      ->default_val(1);
  convert->add_option("-o,--output", batch.output_folder, "Output folder (created if missing)")->required();

  CLI::App* formats = app.add_subcommand("formats", "The six codings with their tags, aliases and display names");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    int status = app.exit(error);
    return status == 0 ? 0 : UsageStatus;
  }

  if (*info) return RunInfo(info_files, CodingOption(info_format), info_json);
  if (*decode) return RunDecode(decode_input, decode_output, CodingOption(decode_format));
  if (*encode) {
    return RunEncode(encode_input, encode_output, *ParseCodingName(encode_format), encode_no_header,
                     CodingOption(encode_from));
  }
  if (*formats) return RunFormats();
  if (*convert) {
    const bool to_wav = convert_to == "wav" || convert_to == "WAV";
    if (to_wav && convert_no_header) {
      std::fprintf(stderr, "kvox: --no-header applies to VOX outputs only, not to --to wav\n");
      return UsageStatus;
    }
    if (!to_wav) batch.vox_output = VoxOutputKind{*ParseCodingName(convert_to), !convert_no_header};
    batch.raw_format = CodingOption(convert_from);
    batch.progress_bar = isatty(STDERR_FILENO) != 0;
    return RunConvert(batch);
  }
  return UsageStatus;
}
