// A request that reads the site: one snapshot per connection instead of one per statement.
#pragma once

namespace brisquel {

// While one lives on a thread, each site connection the library's objects take on that thread
// shares one read transaction among its plain reads, begun by the first of them: the page reads
// the site as it was at that moment and pays for one snapshot instead of one per statement (each
// costs a process-wide lock of the database file's shared memory). Anything else that runs (a
// write, a transaction) ends the sharing first, and the next read on any connection of the thread
// sees what it wrote. When the object goes, every such connection's shared transaction ends.
class SharedReadSnapshot {
 public:
  SharedReadSnapshot();
  ~SharedReadSnapshot();
  SharedReadSnapshot(const SharedReadSnapshot&) = delete;
  SharedReadSnapshot& operator=(const SharedReadSnapshot&) = delete;
};

}  // namespace brisquel
