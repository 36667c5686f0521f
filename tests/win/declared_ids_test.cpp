#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <utility>

#include "win/menus/uia_client.h"
#include "win/stream/mf_encoder.h"
#include "win/system/com_ids.h"
#include "win/system/wide.h"

namespace vorlix {
namespace {

// Every id the program declares itself, against its documented text form (a
// slip in one byte of an interface id makes that pattern or class silently
// absent).
TEST(DeclaredIds, MatchTheDocumentedValues) {
    const std::pair<const GUID*, const wchar_t*> ids[] = {
        {&com_ids::kClsidMMDeviceEnumerator, L"{bcde0395-e52f-467c-8e3d-c4579291692e}"},
        {&com_ids::kIidAgileObject, L"{94ea2b94-e9cc-49e0-c0ff-ee64ca8f5b90}"},
        {&com_ids::kSubtypeIeeeFloat, L"{00000003-0000-0010-8000-00aa00389b71}"},
        {&com_ids::kClsidWbemLocator, L"{4590f811-1d3a-11d0-891f-00aa004b2e24}"},
        {&__uuidof(ICodecAPI), L"{901db4c7-31ce-41a2-85dc-8fa0bf41b8da}"},
        {&uia::kClsidCUIAutomation, L"{ff48dba4-60ef-4201-aa87-54103eef594e}"},
        {&uia::kIidAutomation, L"{30cbe57d-d9d0-452a-ab13-7ac5ac4825ee}"},
        {&uia::kIidInvokePattern, L"{fb377fbe-8ea6-46d5-9c73-6499642d3059}"},
        {&uia::kIidLegacyIAccessiblePattern, L"{828055ad-355b-4435-86d5-3b51c14a9b1b}"},
        {&uia::kIidExpandCollapsePattern, L"{619be086-1f4e-4ee4-bafa-210128738730}"},
    };
    for (const auto& [declared, text] : ids) {
        GUID documented{};
        ASSERT_EQ(CLSIDFromString(text, &documented), S_OK);
        EXPECT_TRUE(IsEqualGUID(*declared, documented)) << wide_to_string(text);
    }
    const std::pair<int, int> numbers[] = {
        {uia::kMenuBar, 50010},           {uia::kMenuItem, 50011},
        {uia::kMenu, 50009},              {uia::kTitleBar, 50037},
        {uia::kDocument, 50030},          {uia::kPropertyControlType, 30003},
        {uia::kPropertyProcessId, 30002}, {uia::kPatternInvoke, 10000},
        {uia::kPatternLegacyIAccessible, 10018}, {uia::kPatternExpandCollapse, 10005},
        {uia::kTreeScopeDescendants, 4},  {uia::kExpanded, 1},
    };
    for (const auto& [declared, documented] : numbers) EXPECT_EQ(declared, documented);
}

}  // namespace
}  // namespace vorlix
