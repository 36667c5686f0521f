#include "win/menus/uia_menus.h"

#include <deque>

#include "host/log.h"
#include "menus/menu_text.h"
#include "win/system/wide.h"

namespace vorlix {

namespace {

using ElementRef = ComRef<uia::Element>;

constexpr std::size_t kMaxChildren = 401;
constexpr int kMaxExamined = 300;
constexpr int kMaxLevels = 4;

std::optional<std::string> take_bstr(HRESULT hr, BSTR text) {
    if (FAILED(hr) || !text) return std::nullopt;
    std::string out = wide_to_string(text, SysStringLen(text));
    SysFreeString(text);
    return out;
}

std::string element_name(uia::Element* e) {
    BSTR name = nullptr;
    return tidy_menu_title(take_bstr(e->get_CurrentName(&name), name).value_or(""));
}

std::optional<std::string> element_shortcut(uia::Element* e) {
    BSTR key = nullptr;
    std::string text = trim_white_space(take_bstr(e->get_CurrentAcceleratorKey(&key), key).value_or(""));
    if (text.empty()) return std::nullopt;
    return text;
}

bool element_enabled(uia::Element* e) {
    BOOL enabled = TRUE;
    return FAILED(e->get_CurrentIsEnabled(&enabled)) || enabled;  // unreadable counts as enabled
}

std::optional<int> control_type(uia::Element* e) {
    int type = 0;
    if (FAILED(e->get_CurrentControlType(&type))) return std::nullopt;
    return type;
}

std::vector<ElementRef> list_children(uia::TreeWalker* walker, uia::Element* parent) {
    std::vector<ElementRef> children;
    ElementRef child;
    if (FAILED(walker->GetFirstChildElement(parent, child.put()))) return children;
    while (child) {
        ElementRef next;
        const HRESULT hr = walker->GetNextSiblingElement(child.get(), next.put());
        children.push_back(std::move(child));
        if (children.size() >= kMaxChildren || FAILED(hr)) break;
        child = std::move(next);
    }
    return children;
}

std::vector<ElementRef> menu_items_of(uia::TreeWalker* walker, uia::Element* parent) {
    std::vector<ElementRef> items;
    for (ElementRef& child : list_children(walker, parent)) {
        if (control_type(child.get()) == uia::kMenuItem) items.push_back(std::move(child));
    }
    return items;
}

struct MenuBar {
    ComRef<uia::TreeWalker> walker;
    ElementRef window;
    std::vector<ElementRef> items;
};

std::optional<MenuBar> find_menu_bar(uia::Automation* automation, HWND window) {
    MenuBar bar;
    if (FAILED(automation->get_ControlViewWalker(bar.walker.put())) || !bar.walker) return std::nullopt;
    if (FAILED(automation->ElementFromHandle(window, bar.window.put())) || !bar.window) return std::nullopt;
    std::vector<ElementRef> level{bar.window};
    int examined = 0;
    for (int depth = 0; depth < kMaxLevels && !level.empty(); ++depth) {
        std::vector<ElementRef> next;
        for (const ElementRef& parent : level) {
            for (ElementRef& child : list_children(bar.walker.get(), parent.get())) {
                if (++examined > kMaxExamined) return std::nullopt;
                const std::optional<int> type = control_type(child.get());
                if (type == uia::kTitleBar || type == uia::kDocument) continue;
                if (type != uia::kMenuBar) {
                    next.push_back(std::move(child));
                    continue;
                }
                BSTR id = nullptr;
                if (take_bstr(child->get_CurrentAutomationId(&id), id) == "SystemMenuBar") continue;
                bar.items = menu_items_of(bar.walker.get(), child.get());
                if (!bar.items.empty()) return bar;
            }
        }
        level = std::move(next);
    }
    return std::nullopt;
}

std::shared_ptr<void> hold(const ElementRef& element) {
    uia::Element* raw = element.get();
    raw->AddRef();
    return std::shared_ptr<void>(raw, [](void* p) { static_cast<uia::Element*>(p)->Release(); });
}

void add_uia_command(MenuScan& scan, const ElementRef& element, std::string title, std::string menu,
                     const std::string& target_menu, HWND window) {
    const bool enabled = element_enabled(element.get());
    MenuTarget target{.kind = MenuTarget::Kind::UiaCommand, .window = reinterpret_cast<std::uintptr_t>(window),
                      .menu = target_menu, .title = title, .element = hold(element), .enabled = enabled};
    scan.add(std::move(title), std::move(menu), element_shortcut(element.get()), enabled, std::move(target));
}

std::vector<UiaMenuItem> as_menu_items(const std::vector<ElementRef>& elements) {
    std::vector<UiaMenuItem> items;
    for (const ElementRef& e : elements) {
        items.push_back({hold(e), element_name(e.get()), element_shortcut(e.get()), element_enabled(e.get())});
    }
    return items;
}

ComRef<uia::Condition> type_condition(uia::Automation* automation, int property, int value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    ComRef<uia::Condition> condition;
    if (FAILED(automation->CreatePropertyCondition(property, v, condition.put()))) condition.reset();
    return condition;
}

// The drop-down of an opened menu when it is not a child of the menu item:
// somewhere below the window, or a pop-up of the same process on the desktop.
std::vector<ElementRef> find_drop_down(uia::Automation* automation, uia::TreeWalker* walker, uia::Element* window,
                                       DWORD process) {
    ComRef<uia::Condition> is_menu = type_condition(automation, uia::kPropertyControlType, uia::kMenu);
    if (!is_menu) return {};
    ElementRef drop_down;
    if (FAILED(window->FindFirst(uia::kTreeScopeDescendants, is_menu.get(), drop_down.put())) || !drop_down) {
        drop_down.reset();
        ComRef<uia::Condition> same_process =
            type_condition(automation, uia::kPropertyProcessId, static_cast<int>(process));
        ComRef<uia::Condition> both;
        ElementRef root;
        constexpr int kTreeScopeChildren = 2;
        if (!same_process || FAILED(automation->CreateAndCondition(is_menu.get(), same_process.get(), both.put())) ||
            FAILED(automation->GetRootElement(root.put())) || !root ||
            FAILED(root->FindFirst(kTreeScopeChildren, both.get(), drop_down.put()))) {
            return {};
        }
    }
    if (!drop_down) return {};
    return menu_items_of(walker, drop_down.get());
}

}  // namespace

uia::Automation* UiaMenus::automation() {
    if (!automation_) {
        const HRESULT hr = CoCreateInstance(uia::kClsidCUIAutomation, nullptr, CLSCTX_INPROC_SERVER,
                                            uia::kIidAutomation, automation_.put_void());
        if (FAILED(hr) || !automation_) {
            automation_.reset();
            log_line("menus: UI Automation is not available");
        }
    }
    return automation_.get();
}

void UiaMenus::read_bar(HWND window, MenuScan& scan, const OpenedMenuCache& cache) {
    uia::Automation* uia = automation();
    if (!uia) return;
    std::optional<MenuBar> bar = find_menu_bar(uia, window);
    if (!bar) return;
    const auto window_id = reinterpret_cast<std::uintptr_t>(window);
    for (const ElementRef& top : bar->items) {
        if (scan.full()) return;
        const std::string name = element_name(top.get());
        if (name.empty()) continue;
        const std::vector<ElementRef> children = menu_items_of(bar->walker.get(), top.get());
        if (children.empty()) {
            add_closed_uia_menu(scan, name, window_id, cache);
            continue;
        }
        for (const ElementRef& child : children) {
            if (scan.full()) return;
            std::string child_name = element_name(child.get());
            if (child_name.empty()) continue;
            const std::vector<ElementRef> grandchildren = menu_items_of(bar->walker.get(), child.get());
            if (grandchildren.empty()) {
                add_uia_command(scan, child, std::move(child_name), name, name, window);
                continue;
            }
            const std::string path = name + kMenuPathSeparator + child_name;
            for (const ElementRef& grandchild : grandchildren) {
                if (scan.full()) return;
                std::string title = element_name(grandchild.get());
                if (!title.empty()) add_uia_command(scan, grandchild, std::move(title), path, name, window);
            }
        }
    }
}

std::optional<std::vector<UiaMenuItem>> UiaMenus::open_menu(HWND window, const std::string& name) {
    uia::Automation* uia = automation();
    if (!uia || !IsWindow(window)) return std::nullopt;
    std::optional<MenuBar> bar = find_menu_bar(uia, window);
    if (!bar) return std::nullopt;
    const ElementRef* item = nullptr;
    for (const ElementRef& top : bar->items) {
        if (element_name(top.get()) == name) {
            item = &top;
            break;
        }
    }
    if (!item) return std::nullopt;
    ComRef<uia::ExpandCollapsePattern> expander;
    if (FAILED((*item)->GetCurrentPatternAs(uia::kPatternExpandCollapse, uia::kIidExpandCollapsePattern,
                                            expander.put_void())) ||
        !expander) {
        return std::nullopt;
    }
    int state = 0;
    if (FAILED(expander->get_CurrentExpandCollapseState(&state))) return std::nullopt;
    if (state != uia::kExpanded && FAILED(expander->Expand())) return std::nullopt;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    for (int attempt = 0; attempt < 10; ++attempt) {
        Sleep(100);
        std::vector<ElementRef> items = menu_items_of(bar->walker.get(), item->get());
        if (items.empty()) items = find_drop_down(uia, bar->walker.get(), bar->window.get(), process);
        if (!items.empty()) return as_menu_items(items);
    }
    log_line("menus: " + name + " did not open");
    return std::nullopt;
}

bool UiaMenus::invoke(const std::shared_ptr<void>& element) {
    auto* e = static_cast<uia::Element*>(element.get());
    if (!e) return false;
    ComRef<uia::InvokePattern> invoker;
    if (SUCCEEDED(e->GetCurrentPatternAs(uia::kPatternInvoke, uia::kIidInvokePattern, invoker.put_void())) &&
        invoker && SUCCEEDED(invoker->Invoke())) {
        return true;
    }
    ComRef<uia::LegacyIAccessiblePattern> legacy;
    return SUCCEEDED(e->GetCurrentPatternAs(uia::kPatternLegacyIAccessible, uia::kIidLegacyIAccessiblePattern,
                                            legacy.put_void())) &&
           legacy && SUCCEEDED(legacy->DoDefaultAction());
}

}  // namespace vorlix
