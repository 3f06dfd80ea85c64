#include "driver/passes.hpp"

#include <exception>
#include <memory>
#include <new>

#include "convert/m32.hpp"
#include "convert/m8.hpp"
#include "convert/sfd.hpp"
#include "convert/tex.hpp"
#include "io/file_io.hpp"
#include "io/report.hpp"
#include "platform/find.hpp"

namespace texport {

void run_batch_pass(const char* pattern, MatchHandler handler) {
  auto record = std::make_unique<platform::_finddata64i32_t>();
  const std::intptr_t handle = platform::_findfirst64i32(pattern, record.get());
  for (std::intptr_t result = handle; result != -1;
       result = platform::_findnext64i32(handle, record.get())) {
    // The Windows search also reports folders; a folder named x.sfd is no source.
    if ((record->attrib & platform::kFolderAttribute) != 0)
      continue;
    const std::string name = record->name;
    try {
      handler(name);
    } catch (const std::bad_alloc&) {
      report_problem(name, "skipped: not enough memory");
    } catch (const std::exception& error) {
      report_problem(name, std::string("skipped: ") + error.what());
    }
  }
  if (handle != -1)
    platform::_findclose(handle);
}

void load_pair(const std::string& name, bool sfd) {
  const std::optional<Bytes> source = read_whole_file(name);
  if (!source)
    return;
  if (sfd) {
    sfd::convert_sfd(*source, name);
    return;
  }
  // Only the .tex trace reads the second copy, so only a traced build reads the file twice.
  std::optional<Bytes> reference;
  if constexpr (tex::tex_trace)
    reference = read_whole_file(name);
  std::string found = name;
  tex::convert_tex(*source, reference ? ByteView(*reference) : ByteView(), found);
}

void scan_sfd() {
  run_batch_pass("*.sfd", [](const std::string& name) { load_pair(name, true); });
}

void scan_tex() {
  run_batch_pass("*.tex", [](const std::string& name) { load_pair(name, false); });
}

namespace {

// Reads a source whole and hands it to its converter; a source that cannot be read is reported
// by the reading and skipped.
void load_and_convert(const std::string& name, void (*convert)(ByteView, const std::string&)) {
  const std::optional<Bytes> source = read_whole_file(name);
  if (source)
    convert(*source, name);
}

}  // namespace

void load_m32(const std::string& name) {
  load_and_convert(name, m32::convert_m32);
}

void scan_m32() {
  run_batch_pass("*.m32", load_m32);
}

void load_m8(const std::string& name) {
  load_and_convert(name, m8::convert_m8);
}

void scan_m8() {
  run_batch_pass("*.m8", load_m8);
}

}  // namespace texport
