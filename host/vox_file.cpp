#include "host/vox_file.h"

#include <filesystem>

#include "host/errors.h"
#include "host/raw_format.h"

bool PluginTakes(const std::string& path) { return kvox_is_vox(path.c_str()) == 1; }

std::string CreationFailure(const std::string& path, int error) {
  // A name that cannot be made is its folder's fault; anything else the plug-in met creating the file.
  if (error == KVOX_EACCES || error == KVOX_ENOENT) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    return "cannot create a file in " + (folder.empty() ? std::string(".") : folder) + ": " + kvox_strerror(error);
  }
  if (error == KVOX_EISDIR) return "is a folder, not a file name";
  return std::string("the plug-in cannot create it or write its tag: ") + kvox_strerror(error);
}

VoxReader::VoxReader(const std::string& path, const std::string& shown_path, std::optional<kvox_coding> requested,
                     const std::string& option_name, std::vector<std::string>& notes)
    : shown_path_(shown_path.empty() ? path : shown_path) {
  int error = KVOX_OK;
  file_ = kvox_open(path.c_str(), requested.value_or(KVOX_CODING_NONE), &info_, &error);
  if (file_ == nullptr) {
    if (error == KVOX_EUNDECIDED) throw FileError(shown_path_, UndecidedReason(info_.detection, option_name));
    throw FileError(shown_path_, error == KVOX_EIO ? "the plug-in cannot open it" : kvox_strerror(error));
  }
  if (info_.coding_from == KVOX_FROM_CONTENT) notes.push_back(ContentChoiceNote(shown_path_, info_, option_name));
  if (info_.tagged && requested && *requested != info_.coding) {
    notes.push_back(shown_path_ + ": tagged " + std::string(TagOf(info_.coding)) + ", which decides its coding; " +
                    option_name + " applies to raw files only");
  }
}

VoxReader::~VoxReader() { kvox_close(file_); }

size_t VoxReader::Read(int16_t* samples, size_t frames) {
  const int64_t got = kvox_read(file_, samples, frames);
  if (got < 0) throw FileError(shown_path_, "reading failed: " + std::string(kvox_strerror(static_cast<int>(got))));
  delivered_ += got;
  return static_cast<size_t>(got);
}

VoxWriter::VoxWriter(const std::string& path, const std::string& shown_path, VoxOutputKind kind)
    : shown_path_(shown_path), kind_(kind) {
  int error = KVOX_OK;
  file_ = kvox_create(path.c_str(), kind.coding, kind.tag ? 0 : KVOX_NO_TAG, &error);
  if (file_ == nullptr) throw FileError(shown_path, CreationFailure(path, error));
}

VoxWriter::~VoxWriter() { kvox_discard(file_); }

void VoxWriter::Append(const int16_t* samples, size_t count) {
  const int64_t written = kvox_write(file_, samples, count);
  written_ = kvox_tell(file_);
  if (written == KVOX_ETOOLONG) {
    throw FileError(shown_path_, "too long for a VOX file: stopped after " + std::to_string(written_) +
                                     " samples, since the plug-in cannot measure one of 4 GiB or more");
  }
  if (written < 0) {
    throw FileError(shown_path_, "writing failed after " + std::to_string(written_) +
                                     " samples (the disk may be full): " + kvox_strerror(static_cast<int>(written)));
  }
  handed_ += written;
}

void VoxWriter::Finish() {
  kvox_file* file = file_;
  file_ = nullptr;
  written_ = kvox_tell(file);  // what reached the file before the last, partial block
  const int error = kvox_close(file);
  if (error != KVOX_OK) {
    throw FileError(shown_path_, "writing failed after " + std::to_string(written_) +
                                     " samples (the disk may be full): " + kvox_strerror(error));
  }
  written_ = handed_;
}
