// SPDX-License-Identifier: MIT
#pragma once

namespace kovra {

// The warning boxes' captions. The three spellings look like slips, but
// they are the window's own and operators know each box by its caption:
// keep each where it is.
inline constexpr const char* kWarningCaption = "警告";
inline constexpr const char* kWarningCaptionSpaced = "警 告";
inline constexpr const char* kWarningCaptionWide = "警  告";

// The greeting boxes: F5's, and the one a double click on the checksum
// field shows, which also says what that sum is. Two texts on purpose.
inline constexpr const char* kGreetingCaption = "尊敬的用户";
inline constexpr const char* kGreetingText =
    "感谢您选用Lentaro经济型编程器Kovra V3.0C!\n如有任何问题或建议,欢迎访问 www.lentaro.cn 与我们联系.";
inline constexpr const char* kChecksumGreetingText =
    "感谢您选用Lentaro经济型编程器Kovra V3.0C!\n"
    "编程内存检查和是编程内存中代码的16位累加和.\n"
    "如有任何问题或建议,欢迎访问 www.lentaro.cn 与我们联系.";

}  // namespace kovra
