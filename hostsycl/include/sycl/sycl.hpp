#pragma once

// hostsycl: a host implementation of the SYCL 2020 subset this project uses.
// One platform with a GPU-class, a CPU and an accelerator device; commands run
// asynchronously on runtime threads, kernels' index ranges on TBB.

#define HOSTSYCL 1

#include "sycl/hostsycl/context.hpp"
#include "sycl/hostsycl/device.hpp"
#include "sycl/hostsycl/event.hpp"
#include "sycl/hostsycl/exception.hpp"
#include "sycl/hostsycl/handler.hpp"
#include "sycl/hostsycl/hash.hpp"
#include "sycl/hostsycl/info.hpp"
#include "sycl/hostsycl/math.hpp"
#include "sycl/hostsycl/property.hpp"
#include "sycl/hostsycl/queue.hpp"
#include "sycl/hostsycl/range.hpp"
#include "sycl/hostsycl/usm.hpp"
