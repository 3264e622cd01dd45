// The loader: one load per process, each kernel resolved on first use only,
// the process ended with status 2 when the library or a kernel is missing,
// and no link-time dependency of the data-fitting library on the kernels.

#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "detail/cpu_impl/df_frontend.hpp"
#include "detail/cpu_impl/kernel_table.hpp"
#include "detail/cpu_impl/loader_slots.hpp"
#include "fake_task.hpp"
#include "qrx_lumo_thread/service.h"

namespace df = velora::qrx::experimental::data_fitting::detail;
using df::kernel_id;

namespace {

std::vector<kernel_id> resolved_kernels() {
  std::vector<kernel_id> ids;
  for (std::size_t i = 0; i < df::kernel_count; ++i) {
    if (df::kernel_function_slot(static_cast<kernel_id>(i)) != nullptr) ids.push_back(static_cast<kernel_id>(i));
  }
  return ids;
}

// Only this test in the suite's process touches the loader, so it sees the
// slots from their empty start.
TEST(Loader, LoadsOnceAndResolvesEachKernelOnlyWhenSelected) {
  ASSERT_EQ(df::kernel_module_slot(), nullptr);
  ASSERT_TRUE(resolved_kernels().empty());
  ASSERT_EQ(qrx_serv_load_count(), 0);

  double partition[2] = {0.0, 1.0};
  df::task_record* task = nullptr;
  ASSERT_EQ(df::df_new_task_1d<double>(&task, 4, partition, 4, 1, partition, 16), 0);
  void* const module = df::kernel_module_slot();
  EXPECT_NE(module, nullptr);
  EXPECT_EQ(qrx_serv_load_count(), 1);
  EXPECT_EQ(resolved_kernels(), std::vector<kernel_id>{kernel_id::dNewTask1D});

  // Order 3: only the quadratic kernel is looked up (and it answers that
  // this library does not provide the method).
  fake_task fake(1);
  fake.record.element_size = sizeof(double);
  fake.record.order = 3;
  fake.record.type = 0;
  EXPECT_EQ(df::df_construct_1d<double>(fake.task(), 0, 0), QRX_DF_STATUS_METHOD_NOT_PROVIDED);
  EXPECT_EQ(resolved_kernels(), (std::vector<kernel_id>{kernel_id::dNewTask1D, kernel_id::dDFQuadraticSpline1D}));
  void* const quadratic = df::kernel_function_slot(kernel_id::dDFQuadraticSpline1D);

  EXPECT_EQ(df::df_construct_1d<double>(fake.task(), 0, 0), QRX_DF_STATUS_METHOD_NOT_PROVIDED);
  EXPECT_EQ(df::df_delete_task(&task), 0);
  EXPECT_EQ(df::kernel_function_slot(kernel_id::dDFQuadraticSpline1D), quadratic);
  EXPECT_EQ(df::kernel_module_slot(), module);
  EXPECT_EQ(qrx_serv_load_count(), 1);
  EXPECT_EQ(resolved_kernels(), (std::vector<kernel_id>{kernel_id::DeleteTask, kernel_id::dNewTask1D,
                                                        kernel_id::dDFQuadraticSpline1D}));
}

// Death tests re-run the test binary, so each child starts with empty slots.
class LoaderDeath : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

void construct_once() {
  fake_task fake(1);
  df::df_construct_1d<float>(fake.task(), 0, 0);
}

void interpolate_once() {
  fake_task fake(1);
  double site = 0;
  double result = 0;
  std::int64_t indicator = 1;
  df::df_interpolate_1d<double>(fake.task(), 1, 1, 1, &site, 1, 1, &indicator, 0, &result, 16, nullptr);
}

void new_task_once() {
  df::task_record* task = nullptr;
  float partition[2] = {0.0F, 1.0F};
  df::df_new_task_1d<float>(&task, 3, partition, 4, 1, partition, 16);
}

TEST_F(LoaderDeath, MissingLibraryEndsTheProcessAtTheFirstConstructionAfterMessage771) {
  EXPECT_EXIT((qrx_serv_set_kernel_library_path("/nonexistent/libqrx_df_kernels.so"), construct_once()),
              ::testing::ExitedWithCode(2), "771");
}

TEST_F(LoaderDeath, MissingLibraryEndsTheProcessAtTheFirstInterpolationAfterMessage771) {
  EXPECT_EXIT((qrx_serv_set_kernel_library_path("/nonexistent/libqrx_df_kernels.so"), interpolate_once()),
              ::testing::ExitedWithCode(2), "771");
}

TEST_F(LoaderDeath, MissingKernelEndsTheProcessAfterMessage772WithItsName) {
  EXPECT_EXIT((qrx_serv_set_kernel_library_path(QRX_PARTIAL_KERNELS), new_task_once()), ::testing::ExitedWithCode(2),
              "772.*qrx_df_kernel_sNewTask1D");
}

// The DT_NEEDED entries of an ELF shared object.
std::vector<std::string> needed_libraries(const char* path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> needed;
  if (bytes.size() < sizeof(Elf64_Ehdr)) return needed;
  Elf64_Ehdr header;
  std::memcpy(&header, bytes.data(), sizeof header);
  auto section = [&](std::size_t i) {
    Elf64_Shdr s;
    std::memcpy(&s, bytes.data() + header.e_shoff + i * header.e_shentsize, sizeof s);
    return s;
  };
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    const Elf64_Shdr dynamic = section(i);
    if (dynamic.sh_type != SHT_DYNAMIC) continue;
    const Elf64_Shdr strings = section(dynamic.sh_link);
    for (std::size_t off = 0; off + sizeof(Elf64_Dyn) <= dynamic.sh_size; off += sizeof(Elf64_Dyn)) {
      Elf64_Dyn entry;
      std::memcpy(&entry, bytes.data() + dynamic.sh_offset + off, sizeof entry);
      if (entry.d_tag == DT_NEEDED) needed.emplace_back(bytes.data() + strings.sh_offset + entry.d_un.d_val);
    }
  }
  return needed;
}

TEST(LoaderLinkage, DataFittingLibraryNeedsTheServiceLibraryButNotTheKernels) {
  const std::vector<std::string> needed = needed_libraries(QRX_DATA_FITTING_LIBRARY);
  ASSERT_FALSE(needed.empty());
  EXPECT_NE(std::find(needed.begin(), needed.end(), "libqrx_lumo_thread.so.2"), needed.end());
  for (const std::string& name : needed) EXPECT_EQ(name.find("qrx_df_kernels"), std::string::npos) << name;
}

}  // namespace
