// The part of the UI Automation client interfaces the menu reader calls,
// declared from their documented layout (MinGW ships none of them). Each
// interface lists its methods in vtable order up to the last one used;
// slots that are never called are named but take no typed parameters.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

namespace vorlix::uia {

constexpr CLSID kClsidCUIAutomation = {0xFF48DBA4, 0x60EF, 0x4201, {0xAA, 0x87, 0x54, 0x10, 0x3E, 0xEF, 0x59, 0x4E}};
constexpr IID kIidAutomation = {0x30CBE57D, 0xD9D0, 0x452A, {0xAB, 0x13, 0x7A, 0xC5, 0xAC, 0x48, 0x25, 0xEE}};
constexpr IID kIidInvokePattern = {0xFB377FBE, 0x8EA6, 0x46D5, {0x9C, 0x73, 0x64, 0x99, 0x64, 0x2D, 0x30, 0x59}};
constexpr IID kIidLegacyIAccessiblePattern = {0x828055AD, 0x355B, 0x4435,
                                               {0x86, 0xD5, 0x3B, 0x51, 0xC1, 0x4A, 0x9B, 0x1B}};
constexpr IID kIidExpandCollapsePattern = {0x619BE086, 0x1F4E, 0x4EE4,
                                           {0xBA, 0xFA, 0x21, 0x01, 0x28, 0x73, 0x87, 0x30}};

constexpr int kMenuBar = 50010;
constexpr int kMenuItem = 50011;
constexpr int kMenu = 50009;
constexpr int kTitleBar = 50037;
constexpr int kDocument = 50030;
constexpr int kPropertyControlType = 30003;
constexpr int kPropertyProcessId = 30002;
constexpr int kPatternInvoke = 10000;
constexpr int kPatternLegacyIAccessible = 10018;
constexpr int kPatternExpandCollapse = 10005;
constexpr int kTreeScopeDescendants = 4;
constexpr int kExpanded = 1;

struct Condition : IUnknown {};

struct Element : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFocus() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRuntimeId() = 0;
    virtual HRESULT STDMETHODCALLTYPE FindFirst(int scope, Condition* condition, Element** found) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindAll() = 0;
    virtual HRESULT STDMETHODCALLTYPE FindFirstBuildCache() = 0;
    virtual HRESULT STDMETHODCALLTYPE FindAllBuildCache() = 0;
    virtual HRESULT STDMETHODCALLTYPE BuildUpdatedCache() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPropertyValue() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPropertyValueEx() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCachedPropertyValue() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCachedPropertyValueEx() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPatternAs(int pattern, REFIID riid, void** object) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCachedPatternAs() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPattern() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCachedPattern() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCachedParent() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCachedChildren() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentProcessId(int* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentControlType(int* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentLocalizedControlType() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentName(BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentAcceleratorKey(BSTR* key) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentAccessKey() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentHasKeyboardFocus() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentIsKeyboardFocusable() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentIsEnabled(BOOL* enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentAutomationId(BSTR* id) = 0;
};

struct TreeWalker : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetParentElement() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFirstChildElement(Element* element, Element** first) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLastChildElement() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNextSiblingElement(Element* element, Element** next) = 0;
};

struct Automation : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CompareElements() = 0;
    virtual HRESULT STDMETHODCALLTYPE CompareRuntimeIds() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRootElement(Element** root) = 0;
    virtual HRESULT STDMETHODCALLTYPE ElementFromHandle(HWND window, Element** element) = 0;
    virtual HRESULT STDMETHODCALLTYPE ElementFromPoint() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFocusedElement() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRootElementBuildCache() = 0;
    virtual HRESULT STDMETHODCALLTYPE ElementFromHandleBuildCache() = 0;
    virtual HRESULT STDMETHODCALLTYPE ElementFromPointBuildCache() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFocusedElementBuildCache() = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateTreeWalker() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ControlViewWalker(TreeWalker** walker) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ContentViewWalker() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RawViewWalker() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RawViewCondition() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ControlViewCondition() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ContentViewCondition() = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateCacheRequest() = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateTrueCondition() = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateFalseCondition() = 0;
    virtual HRESULT STDMETHODCALLTYPE CreatePropertyCondition(int property, VARIANT value, Condition** condition) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreatePropertyConditionEx() = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateAndCondition(Condition* first, Condition* second, Condition** both) = 0;
};

struct InvokePattern : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke() = 0;
};

struct ExpandCollapsePattern : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Expand() = 0;
    virtual HRESULT STDMETHODCALLTYPE Collapse() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentExpandCollapseState(int* state) = 0;
};

struct LegacyIAccessiblePattern : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Select() = 0;
    virtual HRESULT STDMETHODCALLTYPE DoDefaultAction() = 0;
};

}  // namespace vorlix::uia
