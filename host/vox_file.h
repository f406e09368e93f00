// VOX files for kvox's commands, through libkvox: a reader and a writer that own one kvox_file each,
// close it however their work ends, and turn libkvox's error codes into messages that name the file.
#pragma once

#include <kvox.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/codes.h"

// True when libkvox (the plug-in) takes the file as a VOX file, by its tag or by its name.
bool PluginTakes(const std::string& path);

// Why kvox_create failed for `path`, in words ("cannot create a file in calls: Permission denied").
std::string CreationFailure(const std::string& path, int error);

class VoxReader {
 public:
  // Opens `path` as kvox_open does: a tagged file by its tag, a raw one by `requested` (the coding the user
  // named with `option_name`) or else by its content at 0.9 or more. Throws FileError naming `shown_path`
  // (`path` when empty), with the values to try when a raw file's coding is not settled. What the user
  // should hear of the choice is appended to `notes`.
  VoxReader(const std::string& path, const std::string& shown_path, std::optional<kvox_coding> requested,
            const std::string& option_name, std::vector<std::string>& notes);
  ~VoxReader();
  VoxReader(const VoxReader&) = delete;
  VoxReader& operator=(const VoxReader&) = delete;

  const kvox_info& Info() const { return info_; }
  int RateHz() const { return info_.rate; }
  // Reads up to `frames` samples; fewer only at the end, 0 there. Throws FileError when reading fails.
  size_t Read(int16_t* samples, size_t frames);
  int64_t DeliveredFrames() const { return delivered_; }

 private:
  std::string shown_path_;
  kvox_file* file_ = nullptr;
  kvox_info info_{};
  int64_t delivered_ = 0;
};

class VoxWriter {
 public:
  // Creates `path` (a name the file takes when complete, or a device or pipe written directly). Throws
  // FileError naming `shown_path`.
  VoxWriter(const std::string& path, const std::string& shown_path, VoxOutputKind kind);
  ~VoxWriter();  // discards an unfinished file
  VoxWriter(const VoxWriter&) = delete;
  VoxWriter& operator=(const VoxWriter&) = delete;

  int RateHz() const { return kvox_coding_rate(kind_.coding); }
  // Throws FileError when coded bytes did not reach the file, or before it would reach 4 GiB.
  void Append(const int16_t* samples, size_t count);
  // Writes the rest and gives the file its name; throws FileError when any of it failed.
  void Finish();
  int64_t WrittenSamples() const { return written_; }

 private:
  std::string shown_path_;
  VoxOutputKind kind_;
  kvox_file* file_ = nullptr;
  int64_t written_ = 0;  // samples stored in the file
  int64_t handed_ = 0;   // samples accepted, some perhaps still held for the last block
};
