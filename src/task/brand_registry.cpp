#include "task/brand_registry.h"

#include <charconv>
#include <cstdio>

namespace norvale {
namespace {
constexpr const char* kBrandNames[kBrandCount] = {
    "未知监控录像系统",   "海康监控录像系统",     "大华监控录像系统",   "WFS监控录像系统",
    "中维监控录像系统",   "宇视监控录像系统",     "汉邦监控录像系统",   "华亿监控录像系统",
    "波粒监控录像系统",   "智灵监控录像系统",     "美电贝尔录像系统",   "乐橙监控录像系统",
    "TP-LINK监控录像系统", "乔安NVR监控录像系统", "NVR1监控录像系统",   "天地伟业录像系统",
    "三星监控录像系统",   "英视通监控录像系统",   "中视安防监控录像系统", "科达监控录像系统",
    "清华同方录像系统",   "中控监控录像系统",     "帝安视监控录像系统", "天视通监控录像系统",
    "宇视通监控录像系统", "威特迪监控录像系统",   "天视达监控录像系统", "全睿监控录像系统",
    "萤石监控录像系统",   "欧瑞博监控录像系统",   "小米监控录像系统",   "华为监控录像系统",
    "D-LINK监控录像系统", "索尼监控录像系统",     "松下监控录像系统",   "联想监控录像系统",
    "大唐保镖录像系统",   "万顺达监控录像系统",   "云视通监控录像系统", "巨峰监控录像系统",
    "雅视威监控录像系统", "威视达康录像系统",     "壹视安监控录像系统", "奇盾监控录像系统",
    "华创时代监控录像系统", "七方NVR监控录像系统", "景科监控录像系统",   "神州威视监控录像系统",
    "华氏H265监控录像系统",
};
}  // namespace

std::string brandName(int brand) {
  if (brand < 0 || brand >= kBrandCount) return {};
  return "[" + std::to_string(brand) + "]  " + kBrandNames[brand];
}

std::string parseModeName(int mode) {
  switch (mode) {
    case 0: return "快速解析(速度快)";
    case 1: return "深度解析(速度慢)";
    default: return {};
  }
}

std::string parseModeText(int mode) { return "[" + std::to_string(mode) + "] " + parseModeName(mode); }

std::optional<int> numberFromListText(std::string_view text) {
  const auto open = text.find('[');
  const auto close = text.find(']');
  if (open == std::string_view::npos || close == std::string_view::npos || close <= open + 1) return std::nullopt;
  int value = 0;
  const char* first = text.data() + open + 1;
  const char* last = text.data() + close;
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec != std::errc{} || ptr != last) return std::nullopt;
  return value;
}

}  // namespace norvale
