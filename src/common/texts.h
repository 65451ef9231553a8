#pragma once

// Every text a user of the updater can see. The Persian texts use U+06CC for
// "ye" and U+06A9 for "kaf", and a zero-width non-joiner only inside
// "be-ruz"; tests/unit/texts_test.cpp checks every text listed there.

// The main window.
inline constexpr wchar_t kWindowTitle[] = L"به‌روزرسان نرم افزار حسابداری نیروا";
inline constexpr wchar_t kStartButtonText[] = L"آغاز به‌روزرسانی";
inline constexpr wchar_t kLaterButtonText[] = L"بعدا به‌روز میکنم";

// The window's status line, in the order a user meets them.
inline constexpr wchar_t kDownloadingText[] = L"در حال دانلود به‌روزرسانی...";
inline constexpr wchar_t kDownloadFailedText[] = L"دانلود ناموفق بود";
inline constexpr wchar_t kInstallingText[] = L"در حال نصب...";
// While another program holds the program's files.
inline constexpr wchar_t kFolderHeldText[] = L"برنامه دیگری فایل های نرم افزار را باز نگه داشته است؛ در انتظار بسته شدن آن...";
// The progress text: "<percent>%   download speed: <n> KB/s   remaining time: <n> seconds".
inline constexpr wchar_t kProgressPercentPiece[] = L"%   سرعت دانلود: ";
inline constexpr wchar_t kProgressSpeedPiece[] = L" KB/s   زمان باقی مانده: ";
inline constexpr wchar_t kProgressSecondsPiece[] = L" ثانیه";

// Message boxes. Two captions say "error": the English one on the boxes
// about the updater's own window and thread, the Persian one on the boxes
// about the application and its installation.
inline constexpr wchar_t kEnglishErrorCaption[] = L"Error";
inline constexpr wchar_t kPersianErrorCaption[] = L"خطا";
inline constexpr wchar_t kWindowFailureText[] = L"وقوع خطا در نمایش رابط کاربری";
inline constexpr wchar_t kWorkerStartFailureText[] = L"وقوع خطا در آغاز عملیات به‌روزرسانی";
inline constexpr wchar_t kVersionReadFailureText[] = L"خطا در خواندن نسخه نرم افزار موجود";
inline constexpr wchar_t kExtractionFailureText[] = L"باز کردن فایل فشرده شده با خطا مواجه شد!";
inline constexpr wchar_t kInstallationFailureText[] = L"نصب به‌روزرسانی با خطا مواجه شد";
// Other programs have the program's files open; the names of up to three of
// them follow on lines of their own.
inline constexpr wchar_t kFilesInUseText[] =
    L"نصب به‌روزرسانی انجام نشد، زیرا برنامه دیگری فایل های نرم افزار را باز نگه داشته است. "
    L"لطفاً برنامه های زیر را ببندید و دوباره برنامه را باز کنید.";
// The old release could not be moved back at once; the next start does it.
inline constexpr wchar_t kRollbackPendingText[] =
    L"نصب به‌روزرسانی با خطا مواجه شد. نسخه قبلی نرم افزار در اجرای بعدی برنامه بازگردانده میشود.";
// This user may not change the office folder: nothing can be installed.
inline constexpr wchar_t kFolderNotWritableText[] =
    L"این کاربر اجازه تغییر پوشه نرم افزار را ندارد و به‌روزرسانی نصب نمیشود. "
    L"لطفاً برنامه را با کاربری که این اجازه را دارد باز کنید.";
inline constexpr wchar_t kServerFailureCaption[] = L"خطای ارتباط با سرور";
inline constexpr wchar_t kServerFailureText[] =
    L"در ارتباط با سرور خطا روی داده از اتصال خود به اینترنت اطمینان حاصل نموده و دوباره برنامه را باز کنید";
// Another updater (on another computer, or through another path to the
// folder) holds the office folder.
inline constexpr wchar_t kUpdatingElsewhereText[] = L"برنامه اکنون در حال به‌روزرسانی است. لطفاً چند دقیقه دیگر دوباره تلاش کنید.";
inline constexpr wchar_t kMandatoryUpdateCaption[] = L"به‌روزرسانی اجباری";
inline constexpr wchar_t kMandatoryUpdateText[] = L"به‌روزرسانی اجباری است و بهصورت خودکار آغاز شد";
