// Every Russian text of the main window and its dialogs, as Windows-1251 bytes.
#pragma once

#include <string_view>

#include "platform/cp1251_literal.h"

namespace calvix::text {

// Captions and status texts.
inline constexpr std::string_view kAppTitle = W1251("Программа \"Ведар\"");
inline constexpr std::string_view kCaptionBack = W1251("Программа \"Ведар\".");
inline constexpr std::string_view kCaptionUpd = W1251("Программа \"Ведар\". Работа с УПД.");
inline constexpr std::string_view kCaptionArchive = W1251("Программа \"Ведар\". Работа с архивом.");
inline constexpr std::string_view kCaptionHC =
    W1251("Программа \"Ведар\". Работа с тепловычислителем.");
inline constexpr std::string_view kStatusHelp = W1251("Для получения помощи нажмите \"F1\"");

// Start-up and shut-down.
inline constexpr std::string_view kError = W1251("Ошибка");
inline constexpr std::string_view kInitFailed =
    W1251("При инициализации программы произошла ошибка.\r\nПрограмма будет закрыта.");
inline constexpr std::string_view kConfigSaveFailed =
    W1251("Ошибка при сохранении конфигурационного файла calvix.ini");

// Panel titles.
inline constexpr std::string_view kTitleSelectMode = W1251("Окно выбора режима работы");
inline constexpr std::string_view kTitleWait = W1251("Окно чтения данных из УПД");
inline constexpr std::string_view kTitleSelectArchiv =
    W1251("Окно со списком тепловычислителей в УПД");
inline constexpr std::string_view kTitleViewReport = W1251("Окно со списком выбранных отчетов");
inline constexpr std::string_view kTitleText = W1251("Окно ведомости учета");
inline constexpr std::string_view kTitleReportArchive =
    W1251("Окно выбора отчетов в архиве компьютера");
inline constexpr std::string_view kTitleReportHC = W1251("Окно выбора отчетов тепловычислителя");
inline constexpr std::string_view kTitleHCWork = W1251("Работа с тепловычислителем");
inline constexpr std::string_view kTitleHCConfig = W1251("Параметры настройки COM-порта");
inline constexpr std::string_view kTitleHCAutoSearch = W1251("Автоматический поиск абонента");
inline constexpr std::string_view kTitleHCErrorSearch = W1251("Прекратить поиск?");
inline constexpr std::string_view kTitleHCCurrent = W1251("Текущие значения");
inline constexpr std::string_view kTitleHCWait = W1251("Окно чтения данных из тепловычислителя");
inline constexpr std::string_view kTitleHCQuestion = W1251("Чтение архива");
inline constexpr std::string_view kTitleHCDateSelect = W1251("Окно выбора даты отчета по часам");
inline constexpr std::string_view kTitleHCAnyDay =
    W1251("Окно выбора начальной и конечной дат отчетов по суткам");
inline constexpr std::string_view kTitleHCReportWait = W1251("Подождите, создаются отчеты.");

// Mode window.
inline constexpr std::string_view kUPDMode = W1251("Работа с УПД");
inline constexpr std::string_view kMemoMode = W1251("Работа с архивом");
inline constexpr std::string_view kTV540Mode = W1251("Работа с тепловычислителем");
inline constexpr std::string_view kHCRukov = W1251("Руководство оператора");

// Buttons.
inline constexpr std::string_view kExit = W1251("Выход");
inline constexpr std::string_view kBack = W1251("Назад");
inline constexpr std::string_view kNext = W1251("Дальше");
inline constexpr std::string_view kAbort = W1251("Прервать");
inline constexpr std::string_view kCreateReports = W1251("Создать отчеты");
inline constexpr std::string_view kAllClear = W1251("Отмена выбора");
inline constexpr std::string_view kCalendar = W1251("Отчеты по часам");
inline constexpr std::string_view kSeveralDays = W1251("Отчеты по суткам");
inline constexpr std::string_view kNextText = W1251("Следующий");
inline constexpr std::string_view kPrevText = W1251("Предыдущий");
inline constexpr std::string_view kSelectReportText = W1251("Список");
inline constexpr std::string_view kSaveText = W1251("Сохранить");
inline constexpr std::string_view kSaveAllText = W1251("Сохранить все");
inline constexpr std::string_view kDeleteText = W1251("Удалить");
inline constexpr std::string_view kDeleteAllText = W1251("Удалить все");
inline constexpr std::string_view kPrintText = W1251("Распечатать");
inline constexpr std::string_view kYes = W1251("Да");
inline constexpr std::string_view kNo = W1251("Нет");

// Report selection window.
inline constexpr std::string_view kListUpd = W1251("Отчеты в УПД");
inline constexpr std::string_view kListHC = W1251("Отчеты в тепловычислителе");
inline constexpr std::string_view kListArchive = W1251("Отчеты в архиве");
inline constexpr std::string_view kListOther = W1251("Список отчетов");
inline constexpr std::string_view kSelectedMark = W1251("<выбран>");
inline constexpr std::string_view kAddress = W1251("Адрес: ");

// УПД windows.
inline constexpr std::string_view kArchivesInUpd = W1251("Архивы (тепловычислители) :");
inline constexpr std::string_view kChooseArchive =
    W1251("Выберите архив и нажмите кнопку \"Дальше\"");
inline constexpr std::string_view kReadingUpd = W1251("Считываются данные из УПД");
inline constexpr std::string_view kReadingCatalog = W1251("Считывается список архивов из УПД");
inline constexpr std::string_view kCatalogFailed =
    W1251("Ошибка при чтении списка архивов из УПД.");

// Heat-calculator window.
inline constexpr std::string_view kHCRead = W1251("Чтение архивов тепловычислителя");
inline constexpr std::string_view kHCConfig = W1251("Настройка COM-порта");
inline constexpr std::string_view kHCAutoSearch = W1251("Автоматический поиск абонента");
inline constexpr std::string_view kHCCurrent = W1251("Текущие значения");
inline constexpr std::string_view kHCCurSet = W1251("Текущие установки:");
inline constexpr std::string_view kHCAbon = W1251("Абонент:");
inline constexpr std::string_view kHCAbonHint = W1251("Адрес абонента в сети");
inline constexpr std::string_view kPortPrefix = W1251("Порт - ");
inline constexpr std::string_view kSpeedPrefix = W1251("Скорость - ");
inline constexpr std::string_view kModemPrefix = W1251("Чтение данных через модем (тел. ");
inline constexpr std::string_view kDateChoose = W1251("Выберите дату");
inline constexpr std::string_view kDateList = W1251("Список отчетов");
inline constexpr std::string_view kBeginDate = W1251("Начальная дата");
inline constexpr std::string_view kEndDate = W1251("Конечная дата");

// Archive mode and the text window.
inline constexpr std::string_view kArchiveEmpty = W1251("В архиве не найден ни один отчет.");
inline constexpr std::string_view kArchiveSearchFailed =
    W1251("Ошибка при поиске отчетов в архиве.");
inline constexpr std::string_view kNoReportChosen = W1251("Вы не выбрали ни одного отчета");
inline constexpr std::string_view kReportCreationFailed = W1251("Ошибка при создании отчетов");
inline constexpr std::string_view kReportNotFound = W1251("Отчет не найден");
inline constexpr std::string_view kReportEmpty = W1251("Отчет пуст");
inline constexpr std::string_view kReportReadFailed = W1251("Ошибка при чтении отчета");
inline constexpr std::string_view kArchiveFolder = "Archive\\";
inline constexpr std::string_view kUnknownDevice = W1251("Не определен, ");

// Dialogs.
inline constexpr std::string_view kStartCaption = W1251("Стартовое окно");
inline constexpr std::string_view kAboutCaption = W1251("О программе");
inline constexpr std::string_view kVersion = W1251("Версия 1.2.24");
inline constexpr std::string_view kStart = W1251("Старт");
inline constexpr std::string_view kCloseCaption = W1251("Выход из программы");
inline constexpr std::string_view kCloseQuestion =
    W1251("Вы хотите закончить работу с программой ?");
inline constexpr std::string_view kDeleteCaption = W1251("Внимание");
inline constexpr std::string_view kDeleteQuestion = W1251("Вы действительно хотите удалить отчет?");
inline constexpr std::string_view kHelpCaption = W1251("Помощь");
inline constexpr std::string_view kHelpContinue = W1251("Продолжить работу");
inline constexpr std::string_view kPrinterCaption = W1251("Выбор принтера");
inline constexpr std::string_view kPrinterChoose =
    W1251("Выберите принтер и нажмите кнопку \"Дальше\".");
inline constexpr std::string_view kPrinterSelected =
    W1251("Выбранный принтер выделен синим цветом.");
inline constexpr std::string_view kPrinterList =
    W1251("Список принтеров, установленных на компьютере :");
inline constexpr std::string_view kPrintersNotFound =
    W1251("Не найдены принтеры, установленные на компьютере.");
inline constexpr std::string_view kPrinterGoOn =
    W1251("Для продолжения работы нажмите кнопку \"Дальше\".");
inline constexpr std::string_view kFontSize = W1251("Размер шрифта");
inline constexpr std::string_view kPageOrientation = W1251("Расположение страницы");
inline constexpr std::string_view kPortrait = W1251("вертикально");
inline constexpr std::string_view kLandscape = W1251("горизонтально");

}  // namespace calvix::text
