#include "storage/output_file.h"

namespace talven::storage {

bool AtomicOutput::open(const std::string& path) {
  path_ = path;
  return out_.create(path);
}

bool AtomicOutput::write(const void* data, std::size_t size) { return out_.write(data, size); }

bool AtomicOutput::commit() { return out_.commit(); }

void AtomicOutput::abandon() { out_.abandon(); }

}  // namespace talven::storage
