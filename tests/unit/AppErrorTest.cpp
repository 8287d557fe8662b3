// The text the error boxes show for whatever a failure threw.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

#include "forms/AppError.h"

namespace {

template <typename Throw>
std::u16string TextOf(Throw raise) {
  try {
    raise();
  } catch (...) {
    return CurrentErrorText();
  }
  ADD_FAILURE() << "nothing was thrown";
  return {};
}

TEST(CurrentErrorTextTest, GivesTheProgramsOwnTextForEachKindOfFailure) {
  EXPECT_EQ(TextOf([] { throw AppError(u"タイマーを取得できません"); }),
            u"タイマーを取得できません");
  // Out of memory is the program's message, not the library's English "std::bad_alloc".
  EXPECT_EQ(TextOf([] { throw std::bad_alloc(); }), u"メモリが不足しています");
  EXPECT_EQ(TextOf([] { throw std::bad_array_new_length(); }), u"メモリが不足しています");
  // Another library failure shows its own text; only ASCII is taken as it is.
  EXPECT_EQ(TextOf([] { throw std::runtime_error("vector::reserve"); }), u"vector::reserve");
  EXPECT_EQ(TextOf([] { throw std::logic_error("caf\xc3\xa9 au lait"); }), u"caf?? au lait");
  // Something that is no exception at all.
  EXPECT_EQ(TextOf([] { throw 42; }), u"不明なエラーが発生しました");
}

}  // namespace
