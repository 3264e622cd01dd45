#pragma once

#include <string>

namespace sycl {

enum class aspect {
  cpu,
  gpu,
  accelerator,
  custom,
  emulated,
  host_debuggable,
  fp16,
  fp64,
  atomic64,
  image,
  online_compiler,
  online_linker,
  queue_profiling,
  usm_device_allocations,
  usm_host_allocations,
  usm_atomic_host_allocations,
  usm_shared_allocations,
  usm_atomic_shared_allocations,
  usm_system_allocations,
};

namespace info {

enum class device_type { cpu, gpu, accelerator, custom, automatic, host, all };

namespace device {
struct device_type {
  using return_type = info::device_type;
};
struct name {
  using return_type = std::string;
};
struct vendor {
  using return_type = std::string;
};
}  // namespace device

namespace platform {
struct name {
  using return_type = std::string;
};
struct vendor {
  using return_type = std::string;
};
}  // namespace platform

enum class event_command_status { submitted, running, complete };

namespace event {
struct command_execution_status {
  using return_type = info::event_command_status;
};
}  // namespace event

}  // namespace info
}  // namespace sycl
