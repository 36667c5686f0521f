#include <string_view>

#include "app/web_host.h"

namespace vorlix {

extern const std::string_view kTableAr;
const std::string_view kTableAr = R"TABLE(# Vorlix texts: Arabic. Left-to-right marks keep numbers and ids in order.
# One text per line: key = text. "\n" is a line break; {name} is filled in by the program.

# The window (Windows)
status.connected = متصل بـ {name}
status.ready = جاهز. افتح Vorlix على iPhone أو iPad المتصل بالشبكة نفسها.
status.not_listening = لا يمكن استقبال الاتصالات: ربما يستخدم برنامج آخر المنفذ.
pairing.hint = في Vorlix على iPhone أو iPad، اختر {name} وأدخل هذا الرمز.
pairing.busy = حاولت عدة أجهزة الاقتران في الوقت نفسه، فرُفض أحدها. أعد المحاولة بعد قليل.
pairing.locked_countdown = أُدخلت خمسة رموز خاطئة متتالية. يُفتح الاقتران مجددًا بعد ‎{seconds}‎ ث.
pairing.idle = لإضافة iPhone أو iPad، انقر على «إقران جهاز».
button.pair = إقران جهاز
button.stop_pairing = إيقاف الاقتران
label.paired_devices = الأجهزة المقترنة
devices.none = لا توجد أجهزة مقترنة بعد.
button.forget = إزالة…
button.disconnect = قطع الاتصال
footer = هذا الكمبيوتر: {name} · المنفذ ‎{port}‎ · المعرّف ‎{id}‎\nVorlix لنظام Windows ‎{version}‎
forget.confirm = هل تريد إزالة {name}؟ سيتعين إقرانه مجددًا ليتصل.

# The notification-area icon (Windows)
tray.connected = Vorlix: متصل بـ {name}
tray.ready = Vorlix: جاهز
menu.update = التحديث إلى VorLix ‎{version}‎…
menu.open = فتح Vorlix
menu.pair = إقران جهاز
menu.camera = إعداد VorLix Camera…
menu.crash_log = عرض سجل الأعطال
menu.open_at_sign_in = الفتح عند تسجيل الدخول
menu.auto_update = تثبيت التحديثات تلقائيًا
menu.update_after_session = سيُثبَّت VorLix ‎{version}‎ عند انتهاء هذه الجلسة
menu.quit = إنهاء Vorlix
still_running.title = لا يزال Vorlix قيد التشغيل
still_running.text = لا يزال بإمكان iPhone أو iPad الاتصال. للإنهاء استخدم قائمة هذه الأيقونة.

# Updates (Windows)
updated.title = تم تحديث VorLix
updated.text = هذا هو VorLix لنظام Windows ‎{version}‎.
update.available.title = يتوفر VorLix ‎{version}‎
update.available.text = لتثبيته، اختر «التحديث إلى VorLix ‎{version}‎…» من قائمة هذه الأيقونة.
update.downloading.title = جارٍ تحديث VorLix
update.downloading.text = جارٍ تنزيل الإصدار ‎{version}‎…
update.reopen = أنهِ VorLix ثم افتحه مجددًا لاستخدام الإصدار الجديد.
update.failed.title = تعذّر تحديث VorLix
update.failed.text = {error}. يمكنك تنزيله من )TABLE" VORLIX_WEB_HOST R"TABLE(.

# Session events
event.locked = أُدخلت خمسة رموز خاطئة متتالية: أُغلق الاقتران لمدة دقيقة.
event.wrong_code = أدخل جهاز رمزًا خاطئًا. إليك رمزًا جديدًا.
event.paired = تم الإقران مع {name}.
event.signed_in = سجّل {name} الدخول.

# The picture
stream.summary = ‎{width} × {height}‎ · ‎{fps}‎ إطار/ث · H.264
stream.stopped = توقفت الصورة. جارٍ إعادة المحاولة…

# The virtual camera
camera.placeholder = افتح VorLix على iPhone أو iPad لاستخدامه كاميرا لهذا الكمبيوتر.

# The command line and terminal (Linux)
linux.about = Vorlix ‎{version}‎: استخدم iPhone أو iPad مع هذا الكمبيوتر.
linux.usage.run = الاستخدام: vorlix [خيارات]   يبدأ المضيف
linux.usage.pair = vorlix pair   يعرض رمزًا لإقران جهاز جديد
linux.usage.status = vorlix status   يبيّن إن كان هناك جهاز متصل
linux.usage.devices = vorlix devices   يسرد الأجهزة المقترنة
linux.usage.forget = vorlix forget الاسم   يزيل جهازًا مقترنًا
linux.usage.quit = vorlix quit   يوقف المضيف قيد التشغيل
linux.usage.options = الخيارات:
linux.option.open_pairing = --pair   يفتح الاقتران عند البدء
linux.option.port = --port الرقم   يستقبل الاتصالات على هذا المنفذ
linux.option.data_dir = --data-dir المجلد   يحفظ ملفات المضيف في هذا المجلد
linux.option.no_advertise = --no-advertise   لا يعلن عن هذا الكمبيوتر على الشبكة
linux.option.hidden = --hidden   يبدأ دون عرض الحالة
linux.option.no_relay = --no-relay   لا يتصل أبدًا عبر خادم الترحيل
linux.already_running = Vorlix قيد التشغيل بالفعل.
linux.wayland_needs = في Wayland يحتاج Vorlix إلى إذن سطح المكتب لمشاركة الشاشة.
linux.no_display = لم يُعثر على شاشة. شغّل Vorlix من جلسة سطح المكتب.
linux.xwayland_warning = التشغيل عبر XWayland: لا يمكن التحكم إلا في نوافذ X11.
linux.cannot_listen = تعذّر استقبال الاتصالات على المنفذ ‎{port}‎: {error}
linux.running = يعمل Vorlix على {name}، المنفذ ‎{port}‎.
linux.paired_count = الأجهزة المقترنة: ‎{count}‎
linux.wayland.with_input = مشاركة الشاشة والتحكم في الماوس ولوحة المفاتيح مسموح بهما.
linux.wayland.without_input = مشاركة الشاشة مسموح بها، أما التحكم في الماوس ولوحة المفاتيح فلا.
linux.wayland.no_xwayland = XWayland غير متوفر: لا يمكن التحكم في بعض النوافذ.
linux.wayland.ask = سيسألك سطح المكتب الآن إن كان مسموحًا لـ Vorlix بمشاركة الشاشة.
linux.code = رمز الاقتران: ‎{code}‎
linux.code_hint = في Vorlix على iPhone أو iPad، اختر {name} وأدخل هذا الرمز.
linux.notify.title = رمز اقتران Vorlix
linux.notify.body = أدخل ‎{code}‎ على iPhone أو iPad.
linux.pairing_closed = أُغلق الاقتران.
linux.connected = متصل بـ {name}.
linux.disconnected = انقطع اتصال {name}.
linux.picture = الصورة: {summary}
linux.watching = يشاهد: {names}
linux.no_devices = لا توجد أجهزة مقترنة بعد.
linux.forget_which = أي جهاز؟ اكتب اسمه كما يظهر في «devices».
linux.forgot = تمت إزالة {name}.
linux.help.pair = pair: يفتح الاقتران ويعرض رمزًا
linux.help.close = close: يوقف الاقتران
linux.help.status = status: يعرض حالة الاتصال
linux.help.devices = devices: يسرد الأجهزة المقترنة
linux.help.forget = forget الاسم: يزيل جهازًا مقترنًا
linux.help.quit = quit: ينهي Vorlix
linux.unknown_command = أمر غير معروف: {command}. اكتب «help» لعرض القائمة.
linux.not_running = Vorlix ليس قيد التشغيل.
linux.locked_more = سيبقى الاقتران مغلقًا ‎{seconds}‎ ثانية أخرى.
linux.waiting = في انتظار جهاز…
linux.new_code = رمز جديد: ‎{code}‎
)TABLE";

}  // namespace vorlix
