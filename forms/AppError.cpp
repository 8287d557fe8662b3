#include "forms/AppError.h"

#include <new>

std::u16string CurrentErrorText() {
  try {
    throw;
  } catch (const AppError& error) {
    return error.Text();
  } catch (const std::bad_alloc&) {
    return u"メモリが不足しています";
  } catch (const std::exception& error) {
    // Library messages are ASCII; anything else is shown as a replacement mark.
    std::u16string text;
    for (const char* c = error.what(); *c != '\0'; ++c) {
      const auto byte = static_cast<unsigned char>(*c);
      text += byte < 0x80 ? static_cast<char16_t>(byte) : u'?';
    }
    return text;
  } catch (...) {
    return u"不明なエラーが発生しました";
  }
}
