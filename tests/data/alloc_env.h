// The allocator start-up as a GoogleTest environment.
#ifndef VORTAN_TESTS_ALLOC_ENV_H
#define VORTAN_TESTS_ALLOC_ENV_H

#include <gtest/gtest.h>

#include "alloc_start.h"

namespace vortan_test
{
class AllocatorEnvironment : public ::testing::Environment
{
 public:
  AllocatorEnvironment(int mb, const char *dir) : mb_(mb), dir_(dir) {}
  void SetUp() override { start_allocator(mb_, dir_); }

 private:
  int mb_;
  const char *dir_;
};
}  // namespace vortan_test

#endif
