// Assert.h - MY_ASSERT: stops the process on a broken internal invariant.
//
// Unlike assert() it stays active in every build type: an invariant that
// breaks in production must stop the process, naming the expression, the
// file, the line and the function.
#ifndef MY_ASSERT_H
#define MY_ASSERT_H

// __assert_fail is declared by <assert.h> only without NDEBUG.
#ifdef NDEBUG
#undef NDEBUG
#include <assert.h>
#define NDEBUG 1
#include <assert.h>
#else
#include <assert.h>
#endif

#define MY_ASSERT(expr) ((expr) ? static_cast<void>(0) : __assert_fail(#expr, __FILE__, __LINE__, __func__))

#endif  // MY_ASSERT_H
