.pragma library

// Date arithmetic for the views and the Chinese lunar calendar.
//
// lunarInfo: one entry per lunar year 1900..2049 (index = year - 1900).
//   bits 0-3   number of the leap month (1-12), 0 when the year has none
//   bits 4-15  0x10000 >> m set: lunar month m (1-12) has 30 days, else 29
//   bit 16     set: the leap month has 30 days, else 29
var lunarInfo = [
    0x04bd8, 0x04ae0, 0x0a570, 0x054d5, 0x0d260, 0x0d950, 0x16554, 0x056a0, 0x09ad0, 0x055d2, // 1900
    0x04ae0, 0x0a5b6, 0x0a4d0, 0x0d250, 0x1d255, 0x0b540, 0x0d6a0, 0x0ada2, 0x095b0, 0x14977, // 1910
    0x04970, 0x0a4b0, 0x0b4b5, 0x06a50, 0x06d40, 0x1ab54, 0x02b60, 0x09570, 0x052f2, 0x04970, // 1920
    0x06566, 0x0d4a0, 0x0ea50, 0x16a95, 0x05ad0, 0x02b60, 0x186e3, 0x092e0, 0x1c8d7, 0x0c950, // 1930
    0x0d4a0, 0x1d8a6, 0x0b550, 0x056a0, 0x1a5b4, 0x025d0, 0x092d0, 0x0d2b2, 0x0a950, 0x0b557, // 1940
    0x06ca0, 0x0b550, 0x15355, 0x04da0, 0x0a5b0, 0x14573, 0x052b0, 0x0a9a8, 0x0e950, 0x06aa0, // 1950
    0x0aea6, 0x0ab50, 0x04b60, 0x0aae4, 0x0a570, 0x05260, 0x0f263, 0x0d950, 0x05b57, 0x056a0, // 1960
    0x096d0, 0x04dd5, 0x04ad0, 0x0a4d0, 0x0d4d4, 0x0d250, 0x0d558, 0x0b540, 0x0b6a0, 0x195a6, // 1970
    0x095b0, 0x049b0, 0x0a974, 0x0a4b0, 0x0b27a, 0x06a50, 0x06d40, 0x0af46, 0x0ab60, 0x09570, // 1980
    0x04af5, 0x04970, 0x064b0, 0x074a3, 0x0ea50, 0x06b58, 0x05ac0, 0x0ab60, 0x096d5, 0x092e0, // 1990
    0x0c960, 0x0d954, 0x0d4a0, 0x0da50, 0x07552, 0x056a0, 0x0abb7, 0x025d0, 0x092d0, 0x0cab5, // 2000
    0x0a950, 0x0b4a0, 0x0baa4, 0x0ad50, 0x055d9, 0x04ba0, 0x0a5b0, 0x15176, 0x052b0, 0x0a930, // 2010
    0x07954, 0x06aa0, 0x0ad50, 0x05b52, 0x04b60, 0x0a6e6, 0x0a4e0, 0x0d260, 0x0ea65, 0x0d530, // 2020
    0x05aa0, 0x076a3, 0x096d0, 0x04afb, 0x04ad0, 0x0a4d0, 0x1d0b6, 0x0d250, 0x0d520, 0x0dd45, // 2030
    0x0b5a0, 0x056d0, 0x055b2, 0x049b0, 0x0a577, 0x0a4b0, 0x0aa50, 0x1b255, 0x06d20, 0x0ada0  // 2040
];

var nFirstYear = 1900;
var nLastYear = 2049;

// Day labels
var nStr1 = ["日", "一", "二", "三", "四", "五", "六", "七", "八", "九", "十"];
var nStr2 = ["初", "十", "廿", "卅"];
var strMonth = "月";

var MS_PER_DAY = 86400000;

// Whole calendar days between 1900-01-31 (lunar 1900, month 1, day 1) and the
// calendar day of objDate, independent of the time of day and of daylight saving.
var nBaseUtc = Date.UTC(1900, 0, 31);

function daysFromBase(objDate)
{
    var utcDay = Date.UTC(objDate.getFullYear(), objDate.getMonth(), objDate.getDate());
    return Math.round((utcDay - nBaseUtc) / MS_PER_DAY);
}

// Number of calendar days the lunar table covers: 1900-01-31 .. 2050-01-22.
var nTableDays = Math.round((Date.UTC(2050, 0, 22) - Date.UTC(1900, 0, 31)) / MS_PER_DAY) + 1;

function isValidDate(objDate)
{
    return objDate !== undefined && objDate !== null && objDate instanceof Date
        && !isNaN(objDate.getTime());
}

// Whether the lunar table covers the calendar day of objDate.
function inLunarRange(objDate)
{
    if (!isValidDate(objDate))
        return false;
    var nDays = daysFromBase(objDate);
    return nDays >= 0 && nDays < nTableDays;
}

// Days in lunar year y
function lYearDays(y)
{
    var sum = 348;
    for (var i = 0x8000; i > 0x8; i >>= 1)
        sum += (lunarInfo[y - nFirstYear] & i) ? 1 : 0;
    return sum + leapDays(y);
}

// Days of the leap month of lunar year y, 0 without one
function leapDays(y)
{
    if (leapMonth(y))
        return (lunarInfo[y - nFirstYear] & 0x10000) ? 30 : 29;
    return 0;
}

// The leap month of lunar year y (1-12), 0 without one
function leapMonth(y)
{
    return lunarInfo[y - nFirstYear] & 0xf;
}

// Days of lunar month m of lunar year y
function monthDays(y, m)
{
    return (lunarInfo[y - nFirstYear] & (0x10000 >> m)) ? 30 : 29;
}

// Day (counted from 1900-01-31) on which each lunar year of the table starts, and the day
// after its last year; made on first use. The calendar converts dozens of days for each
// month it shows, and summing the years from 1900 each time was most of that work.
var lstYearStart = null;

function yearStarts()
{
    if (lstYearStart === null) {
        var lst = [0];
        for (var y = nFirstYear; y <= nLastYear; y++)
            lst.push(lst[lst.length - 1] + lYearDays(y));
        lstYearStart = lst;
    }
    return lstYearStart;
}

// The lunar date of the calendar day of objDate: year, month (1-12), day (1-30),
// isLeap, and the cyclic counters yearCyl, monCyl, dayCyl. Days after the end of
// the table are counted on from its last year; use inLunarRange to tell them apart.
function Lunar(objDate)
{
    var offset = daysFromBase(objDate);
    this.dayCyl = offset + 40;
    this.monCyl = 14;

    // The lunar year: the last one that starts on or before the day.
    var lstStart = yearStarts();
    var y = nFirstYear;
    while (y < nLastYear && offset >= lstStart[y + 1 - nFirstYear])
        y += 1;
    offset -= lstStart[y - nFirstYear];
    this.monCyl += 12 * (y - nFirstYear);
    var temp = 0;
    this.year = y;
    this.yearCyl = y - 1864;

    var leap = leapMonth(y);
    this.isLeap = false;
    this.month = 12;
    for (var m = 1; m <= 12; m++) {
        temp = monthDays(y, m);
        if (offset < temp) {
            this.month = m;
            break;
        }
        offset -= temp;
        this.monCyl += 1;
        if (m === leap) {
            temp = leapDays(y);
            if (offset < temp) {
                this.month = m;
                this.isLeap = true;
                break;
            }
            offset -= temp;
        }
    }
    this.day = offset + 1;
}

// Short label of lunar month m, day d: the month's name on day 1, else the day
function cDay(m, d)
{
    var s;
    if (d === 1) {
        if (m > 10)
            s = nStr1[10] + nStr1[m - 10];
        else
            s = nStr1[m];
        return s + strMonth;
    }
    switch (d) {
    case 10:
        return "初十";
    case 20:
        return "二十";
    case 30:
        return "三十";
    default:
        return nStr2[Math.floor(d / 10)] + nStr1[d % 10];
    }
}

// Lunar dates already worked out, by day from 1900-01-31: each day cell asks for its label
// and whether it starts a lunar month, and scrolling back shows the same days again.
var mapLunarOfDay = {};
var nLunarOfDayCount = 0;

// The lunar date of the calendar day of date, or null where the table has no data.
function lunarOfDay(date)
{
    if (!isValidDate(date))
        return null;
    var nDays = daysFromBase(date);
    if (nDays < 0 || nDays >= nTableDays)
        return null;
    var lunar = mapLunarOfDay[nDays];
    if (lunar === undefined) {
        if (nLunarOfDayCount >= 20000) {
            mapLunarOfDay = {};
            nLunarOfDayCount = 0;
        }
        lunar = new Lunar(date);
        mapLunarOfDay[nDays] = lunar;
        nLunarOfDayCount += 1;
    }
    return lunar;
}

// Label shown under a day of the calendar; "" where the table has no data
function getLunarDay(date)
{
    var lunar = lunarOfDay(date);
    return lunar === null ? "" : cDay(lunar.month, lunar.day);
}

// Whether date is the first day of a lunar month (false where the table has no data)
function isFirstDay(date)
{
    var lunar = lunarOfDay(date);
    return lunar !== null && lunar.day === 1;
}

function pad2(n)
{
    return n < 10 ? "0" + n : "" + n;
}

// "yyyy-MM-dd", with " hh:mm" when bShowTime and then ":ss" when bShowSecond
function getDateStr(objDate, bShowTime, bShowSecond)
{
    var str = objDate.getFullYear() + "-" + pad2(objDate.getMonth() + 1) + "-"
        + pad2(objDate.getDate());
    if (bShowTime) {
        str += " " + pad2(objDate.getHours()) + ":" + pad2(objDate.getMinutes());
        if (bShowSecond)
            str += ":" + pad2(objDate.getSeconds());
    }
    return str;
}

// "yyyy-MM-dd" or "yyyy-MM-dd hh:mm[:ss]" to a date; the current moment for less.
// A date-only string keeps the time of day of objNow (the current moment when omitted).
function parseDateStr(strDate, objNow)
{
    var objDate = objNow instanceof Date ? new Date(objNow.getTime()) : new Date();
    var lst = String(strDate).split(/[- :]/);
    if (lst.length < 3)
        return objDate;
    // Year, month and day in one call, so that today's day of month cannot push the
    // result into the next month (the 31st of a 30-day month, February 29th ...).
    objDate.setFullYear(parseInt(lst[0], 10), parseInt(lst[1], 10) - 1, parseInt(lst[2], 10));
    if (lst.length < 5)
        return objDate;
    objDate.setHours(parseInt(lst[3], 10), parseInt(lst[4], 10),
                     lst.length > 5 ? parseInt(lst[5], 10) : 0, 0);
    return objDate;
}

// Weekday, 0 Sunday .. 6 Saturday; 0 for undefined
function getWeekDay(objDate)
{
    if (objDate === undefined || objDate === null)
        return 0;
    return objDate.getDay();
}

// Months from the month of objDateStart to the month of objDateEnd
function getMonths(objDateStart, objDateEnd)
{
    return (objDateEnd.getFullYear() - objDateStart.getFullYear()) * 12
        + objDateEnd.getMonth() - objDateStart.getMonth();
}

// Rows of seven days needed to show the month that starts with objDate when weeks
// begin on weekday nFirstDay
function getWeeks(objDate, nFirstDay)
{
    if (objDate === undefined || objDate === null)
        return 6;
    var nLead = ((objDate.getDay() - nFirstDay) % 7 + 7) % 7;
    return Math.ceil((getMonthDays(objDate) + nLead) / 7);
}

// Days of the month of _objDate (28-31); 0 for undefined
function getMonthDays(_objDate)
{
    if (_objDate === undefined || _objDate === null)
        return 0;
    return new Date(_objDate.getFullYear(), _objDate.getMonth() + 1, 0).getDate();
}

// Moves _objDate in place by nDays calendar days, keeping the time of day (also
// across a change to or from daylight saving time)
function addDays(_objDate, nDays)
{
    _objDate.setDate(_objDate.getDate() + nDays);
}

// Moves _objDate in place by _nMonths months; the day of month is lowered to the
// target month's last day when that month is shorter; the time of day is kept
function addMonths(_objDate, _nMonths)
{
    var nMonth = _objDate.getMonth() + _nMonths;
    var nYear = _objDate.getFullYear() + Math.floor(nMonth / 12);
    nMonth = ((nMonth % 12) + 12) % 12;
    var nLastDay = new Date(nYear, nMonth + 1, 0).getDate();
    var nDay = Math.min(_objDate.getDate(), nLastDay);
    _objDate.setFullYear(nYear, nMonth, nDay);
}

// Seconds from dtFrom to dtTo, fractional
function getGapSeconds(dtFrom, dtTo)
{
    return (dtTo.getTime() - dtFrom.getTime()) / 1000;
}

// Whether both dates fall on the same calendar day; 0 when either is missing
function equalDate(dtFrom, dtTo)
{
    if (dtFrom === undefined || dtFrom === null || dtTo === undefined || dtTo === null)
        return 0;
    return dtFrom.getFullYear() === dtTo.getFullYear() && dtFrom.getMonth() === dtTo.getMonth()
        && dtFrom.getDate() === dtTo.getDate();
}

function createDate(objDate)
{
    return new Date(objDate.getTime());
}

function currentDate()
{
    return new Date();
}

function getCurrentDateStr()
{
    return getDateStr(new Date());
}
