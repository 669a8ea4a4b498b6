import QtQuick 2.4
import QtTest 1.0
import "qrc:/js/lunar.js" as LunarJs

// The date library: lunar conversions against published Chinese calendars, the day
// labels, and the Gregorian helpers the views rely on.
TestCase {
    name: "Lunar"

    function day(y, m, d, h, mi, s) {
        return new Date(y, m - 1, d, h || 0, mi || 0, s || 0)
    }

    function checkLunar(objDate, y, m, bLeap, d) {
        var lunar = new LunarJs.Lunar(objDate)
        var strGot = lunar.year + "/" + (lunar.isLeap ? "leap " : "") + lunar.month + "/"
                + lunar.day
        var strWant = y + "/" + (bLeap ? "leap " : "") + m + "/" + d
        compare(strGot, strWant, "lunar date of " + LunarJs.getDateStr(objDate))
    }

    // Rows of the year table: leap month, its length and the twelve month lengths.
    function test_yearTable_data() {
        return [
            {tag: "1900", year: 1900, leap: 8, leapDays: 29,
                months: [29, 30, 29, 29, 30, 29, 30, 30, 30, 30, 29, 30]},
            {tag: "1901", year: 1901, leap: 0, leapDays: 0,
                months: [29, 30, 29, 29, 30, 29, 30, 29, 30, 30, 30, 29]},
            {tag: "2016", year: 2016, leap: 0, leapDays: 0,
                months: [30, 29, 30, 29, 29, 30, 29, 30, 30, 29, 30, 30]},
            {tag: "2017", year: 2017, leap: 6, leapDays: 30,
                months: [29, 30, 29, 30, 29, 29, 29, 30, 29, 30, 30, 30]},
            {tag: "2049", year: 2049, leap: 0, leapDays: 0,
                months: [30, 29, 30, 29, 30, 30, 29, 30, 30, 29, 30, 29]}
        ]
    }

    function test_yearTable(data) {
        compare(LunarJs.lunarInfo.length, 150)
        compare(LunarJs.leapMonth(data.year), data.leap)
        compare(LunarJs.leapDays(data.year), data.leapDays)
        var nSum = data.leapDays
        for (var m = 1; m <= 12; m++) {
            compare(LunarJs.monthDays(data.year, m), data.months[m - 1], "month " + m)
            nSum += data.months[m - 1]
        }
        compare(LunarJs.lYearDays(data.year), nSum)
    }

    // Lunar new year (Spring Festival) dates as published; the day before is the last
    // day of the twelfth month of the year before.
    function test_newYear_data() {
        return [
            {tag: "1900", date: [1900, 1, 31]}, {tag: "1901", date: [1901, 2, 19]},
            {tag: "1912", date: [1912, 2, 18]}, {tag: "1949", date: [1949, 1, 29]},
            {tag: "1950", date: [1950, 2, 17]}, {tag: "1954", date: [1954, 2, 3]},
            {tag: "1976", date: [1976, 1, 31]}, {tag: "1984", date: [1984, 2, 2]},
            {tag: "1987", date: [1987, 1, 29]}, {tag: "1990", date: [1990, 1, 27]},
            {tag: "1996", date: [1996, 2, 19]}, {tag: "2000", date: [2000, 2, 5]},
            {tag: "2008", date: [2008, 2, 7]}, {tag: "2012", date: [2012, 1, 23]},
            {tag: "2016", date: [2016, 2, 8]}, {tag: "2017", date: [2017, 1, 28]},
            {tag: "2020", date: [2020, 1, 25]}, {tag: "2021", date: [2021, 2, 12]},
            {tag: "2023", date: [2023, 1, 22]}, {tag: "2024", date: [2024, 2, 10]},
            {tag: "2025", date: [2025, 1, 29]}, {tag: "2026", date: [2026, 2, 17]},
            {tag: "2027", date: [2027, 2, 6]}, {tag: "2030", date: [2030, 2, 3]},
            {tag: "2033", date: [2033, 1, 31]}, {tag: "2049", date: [2049, 2, 2]}
        ]
    }

    function test_newYear(data) {
        var objDate = day(data.date[0], data.date[1], data.date[2])
        checkLunar(objDate, data.date[0], 1, false, 1)
        compare(LunarJs.getLunarDay(objDate), "一月")
        verify(LunarJs.isFirstDay(objDate))
        if (data.date[0] > 1900) {
            var objEve = day(data.date[0], data.date[1], data.date[2] - 1)
            var lunar = new LunarJs.Lunar(objEve)
            compare(lunar.year, data.date[0] - 1)
            compare(lunar.month, 12)
            verify(lunar.day === 29 || lunar.day === 30)
            verify(!LunarJs.isFirstDay(objEve))
        }
    }

    // First days of leap months as published: the day before still belongs to the
    // ordinary month of the same number, the leap month carries that month's name.
    function test_leapMonth_data() {
        return [
            {tag: "1900 leap 8", date: [1900, 9, 24], month: 8, label: "八月"},
            {tag: "1903 leap 5", date: [1903, 6, 25], month: 5, label: "五月"},
            {tag: "1987 leap 6", date: [1987, 7, 26], month: 6, label: "六月"},
            {tag: "1995 leap 8", date: [1995, 9, 25], month: 8, label: "八月"},
            {tag: "2004 leap 2", date: [2004, 3, 21], month: 2, label: "二月"},
            {tag: "2006 leap 7", date: [2006, 8, 24], month: 7, label: "七月"},
            {tag: "2012 leap 4", date: [2012, 5, 21], month: 4, label: "四月"},
            {tag: "2014 leap 9", date: [2014, 10, 24], month: 9, label: "九月"},
            {tag: "2017 leap 6", date: [2017, 7, 23], month: 6, label: "六月"},
            {tag: "2020 leap 4", date: [2020, 5, 23], month: 4, label: "四月"},
            {tag: "2023 leap 2", date: [2023, 3, 22], month: 2, label: "二月"},
            {tag: "2025 leap 6", date: [2025, 7, 25], month: 6, label: "六月"},
            {tag: "2033 leap 11", date: [2033, 12, 22], month: 11, label: "十一月"}
        ]
    }

    function test_leapMonth(data) {
        var objDate = day(data.date[0], data.date[1], data.date[2])
        checkLunar(objDate, data.date[0], data.month, true, 1)
        compare(LunarJs.getLunarDay(objDate), data.label)
        verify(LunarJs.isFirstDay(objDate))
        var lunarEve = new LunarJs.Lunar(day(data.date[0], data.date[1], data.date[2] - 1))
        compare(lunarEve.month, data.month)
        verify(!lunarEve.isLeap)
        verify(lunarEve.day >= 29)
        // The month after the leap month is the next ordinary month.
        var objNext = day(data.date[0], data.date[1], data.date[2])
        LunarJs.addDays(objNext, LunarJs.leapDays(data.date[0]))
        checkLunar(objNext, data.date[0], data.month + 1, false, 1)
    }

    function test_conversion_data() {
        return [
            {tag: "table start", date: [1900, 1, 31], lunar: [1900, 1, false, 1]},
            {tag: "2016-02-17", date: [2016, 2, 17], lunar: [2016, 1, false, 10]},
            {tag: "2016-01-01", date: [2016, 1, 1], lunar: [2015, 11, false, 22]},
            {tag: "2017-07-23 leap", date: [2017, 7, 23], lunar: [2017, 6, true, 1]},
            {tag: "2017-08-21 leap end", date: [2017, 8, 21], lunar: [2017, 6, true, 30]},
            {tag: "2017-08-22 after leap", date: [2017, 8, 22], lunar: [2017, 7, false, 1]},
            {tag: "2018-11-08 near midnight", date: [2018, 11, 8], lunar: [2018, 10, false, 1]},
            {tag: "2033-12-21 before leap", date: [2033, 12, 21], lunar: [2033, 11, false, 30]},
            {tag: "2049-02-02", date: [2049, 2, 2], lunar: [2049, 1, false, 1]},
            {tag: "table end", date: [2050, 1, 22], lunar: [2049, 12, false, 29]}
        ]
    }

    function test_conversion(data) {
        // The time of day plays no part.
        var lstTimes = [[0, 0, 0], [12, 30, 0], [23, 59, 59]]
        for (var i = 0; i < lstTimes.length; i++) {
            var objDate = day(data.date[0], data.date[1], data.date[2], lstTimes[i][0],
                              lstTimes[i][1], lstTimes[i][2])
            checkLunar(objDate, data.lunar[0], data.lunar[1], data.lunar[2], data.lunar[3])
        }
    }

    function test_cDay_data() {
        return [
            {tag: "month 1", m: 1, d: 1, label: "一月"},
            {tag: "month 10", m: 10, d: 1, label: "十月"},
            {tag: "month 11", m: 11, d: 1, label: "十一月"},
            {tag: "month 12", m: 12, d: 1, label: "十二月"},
            {tag: "day 2", m: 3, d: 2, label: "初二"},
            {tag: "day 10", m: 3, d: 10, label: "初十"},
            {tag: "day 15", m: 3, d: 15, label: "十五"},
            {tag: "day 20", m: 3, d: 20, label: "二十"},
            {tag: "day 21", m: 3, d: 21, label: "廿一"},
            {tag: "day 29", m: 3, d: 29, label: "廿九"},
            {tag: "day 30", m: 3, d: 30, label: "三十"}
        ]
    }

    function test_cDay(data) {
        compare(LunarJs.cDay(data.m, data.d), data.label)
    }

    function test_lunarDay_data() {
        return [
            {tag: "2016-02-08", date: [2016, 2, 8], label: "一月", first: true},
            {tag: "2016-02-17", date: [2016, 2, 17], label: "初十", first: false},
            {tag: "2016-02-27", date: [2016, 2, 27], label: "二十", first: false},
            {tag: "2016-03-08", date: [2016, 3, 8], label: "三十", first: false},
            {tag: "2016-03-09", date: [2016, 3, 9], label: "二月", first: true},
            {tag: "table start", date: [1900, 1, 31], label: "一月", first: true},
            {tag: "table end", date: [2050, 1, 22], label: "廿九", first: false},
            {tag: "before the table", date: [1900, 1, 30], label: "", first: false},
            {tag: "after the table", date: [2050, 1, 23], label: "", first: false},
            {tag: "long before", date: [1850, 6, 1], label: "", first: false},
            {tag: "long after", date: [2100, 2, 9], label: "", first: false}
        ]
    }

    function test_lunarDay(data) {
        var lstHours = [0, 9, 23]
        for (var i = 0; i < lstHours.length; i++) {
            var objDate = day(data.date[0], data.date[1], data.date[2], lstHours[i], 59, 59)
            compare(LunarJs.getLunarDay(objDate), data.label, "hour " + lstHours[i])
            compare(LunarJs.isFirstDay(objDate), data.first, "hour " + lstHours[i])
        }
    }

    function test_lunarDayOfNothing() {
        compare(LunarJs.getLunarDay(null), "")
        compare(LunarJs.getLunarDay(undefined), "")
        compare(LunarJs.getLunarDay(new Date(NaN)), "")
        compare(LunarJs.isFirstDay(null), false)
        compare(LunarJs.isFirstDay(undefined), false)
    }

    function test_getDateStr_data() {
        return [
            {tag: "date only", time: false, second: false, str: "2016-03-05"},
            {tag: "with time", time: true, second: false, str: "2016-03-05 09:07"},
            {tag: "with seconds", time: true, second: true, str: "2016-03-05 09:07:04"},
            {tag: "seconds without time", time: false, second: true, str: "2016-03-05"}
        ]
    }

    function test_getDateStr(data) {
        compare(LunarJs.getDateStr(day(2016, 3, 5, 9, 7, 4), data.time, data.second), data.str)
    }

    // A date-only string gives the stated day whatever the day of month of "now".
    function test_parseDateStr_data() {
        return [
            {tag: "April from the 31st", str: "2016-04-15", now: [2016, 3, 31], date: [2016, 4, 15]},
            {tag: "Feb 29 from Jan 31", str: "2016-02-29", now: [2016, 1, 31], date: [2016, 2, 29]},
            {tag: "30th from the 31st", str: "2017-06-30", now: [2017, 5, 31], date: [2017, 6, 30]},
            {tag: "other year", str: "2020-11-30", now: [2016, 12, 31], date: [2020, 11, 30]}
        ]
    }

    function test_parseDateStr(data) {
        var objNow = day(data.now[0], data.now[1], data.now[2], 13, 14, 15)
        var objDate = LunarJs.parseDateStr(data.str, objNow)
        compare(LunarJs.getDateStr(objDate, true, true),
                LunarJs.getDateStr(day(data.date[0], data.date[1], data.date[2]))
                + " 13:14:15")
        // Without a given "now" the stated day holds as well.
        compare(LunarJs.getDateStr(LunarJs.parseDateStr(data.str)), data.str)
    }

    function test_parseDateStrWithTime() {
        compare(LunarJs.getDateStr(LunarJs.parseDateStr("2016-05-04 10:20:30"), true, true),
                "2016-05-04 10:20:30")
        compare(LunarJs.getDateStr(LunarJs.parseDateStr("2016-05-04 10:20"), true, true),
                "2016-05-04 10:20:00")
        // Too few pieces: now.
        var objDate = LunarJs.parseDateStr("2016-05")
        verify(Math.abs(objDate.getTime() - Date.now()) < 60000)
    }

    function test_getMonthDays_data() {
        return [
            {tag: "Feb 2016", date: [2016, 2, 10], days: 29},
            {tag: "Feb 2017", date: [2017, 2, 28], days: 28},
            {tag: "Feb 2000", date: [2000, 2, 1], days: 29},
            {tag: "Feb 1900", date: [1900, 2, 1], days: 28},
            {tag: "March", date: [2016, 3, 31], days: 31},
            {tag: "April", date: [2016, 4, 30], days: 30},
            {tag: "December", date: [2016, 12, 31], days: 31}
        ]
    }

    function test_getMonthDays(data) {
        compare(LunarJs.getMonthDays(day(data.date[0], data.date[1], data.date[2])), data.days)
    }

    function test_getWeeks_data() {
        return [
            {tag: "Feb 2016 from Monday", date: [2016, 2, 1], first: 1, weeks: 5},
            {tag: "Feb 2016 from Sunday", date: [2016, 2, 1], first: 0, weeks: 5},
            {tag: "Aug 2015 from Monday", date: [2015, 8, 1], first: 1, weeks: 6},
            {tag: "Aug 2015 from Sunday", date: [2015, 8, 1], first: 0, weeks: 6},
            {tag: "Feb 2015 from Sunday", date: [2015, 2, 1], first: 0, weeks: 4},
            {tag: "Feb 2015 from Monday", date: [2015, 2, 1], first: 1, weeks: 5},
            {tag: "Feb 2015 from Saturday", date: [2015, 2, 1], first: 6, weeks: 5}
        ]
    }

    function test_getWeeks(data) {
        compare(LunarJs.getWeeks(day(data.date[0], data.date[1], data.date[2]), data.first),
                data.weeks)
    }

    function test_addMonths_data() {
        return [
            {tag: "Jan 31 + 1", from: [2016, 1, 31], n: 1, to: [2016, 2, 29]},
            {tag: "Jan 31 + 1 in 2017", from: [2017, 1, 31], n: 1, to: [2017, 2, 28]},
            {tag: "Jan 1 - 2", from: [2016, 1, 1], n: -2, to: [2015, 11, 1]},
            {tag: "Dec 15 + 1", from: [2016, 12, 15], n: 1, to: [2017, 1, 15]},
            {tag: "Mar 31 - 1", from: [2016, 3, 31], n: -1, to: [2016, 2, 29]},
            {tag: "Aug 31 + 25", from: [2016, 8, 31], n: 25, to: [2018, 9, 30]},
            {tag: "May 31 - 17", from: [2016, 5, 31], n: -17, to: [2014, 12, 31]},
            {tag: "no move", from: [2016, 5, 31], n: 0, to: [2016, 5, 31]}
        ]
    }

    function test_addMonths(data) {
        var objDate = day(data.from[0], data.from[1], data.from[2], 21, 45, 10)
        LunarJs.addMonths(objDate, data.n)
        compare(LunarJs.getDateStr(objDate, true, true),
                LunarJs.getDateStr(day(data.to[0], data.to[1], data.to[2])) + " 21:45:10")
    }

    // Steps by calendar days keep the time of day, also over a change of daylight saving
    // time (this test runs in a zone that has one).
    function test_addDays_data() {
        return [
            {tag: "forward", from: [2016, 2, 28], n: 2, to: [2016, 3, 1]},
            {tag: "backward", from: [2016, 3, 1], n: -1, to: [2016, 2, 29]},
            {tag: "into summer time", from: [2016, 3, 26], n: 1, to: [2016, 3, 27]},
            {tag: "out of summer time", from: [2016, 10, 30], n: 1, to: [2016, 10, 31]},
            {tag: "a year of days", from: [2016, 1, 1], n: 366, to: [2017, 1, 1]}
        ]
    }

    function test_addDays(data) {
        var lstHours = [0, 23]
        for (var i = 0; i < lstHours.length; i++) {
            var objDate = day(data.from[0], data.from[1], data.from[2], lstHours[i], 30)
            LunarJs.addDays(objDate, data.n)
            compare(LunarJs.getDateStr(objDate, true),
                    LunarJs.getDateStr(day(data.to[0], data.to[1], data.to[2], lstHours[i], 30),
                                       true))
        }
    }

    function test_equalDate() {
        verify(!LunarJs.equalDate(undefined, day(2016, 1, 1)))
        verify(!LunarJs.equalDate(day(2016, 1, 1), undefined))
        verify(!LunarJs.equalDate(null, null))
        verify(LunarJs.equalDate(day(2016, 1, 1, 0, 0, 0), day(2016, 1, 1, 23, 59, 59)))
        verify(!LunarJs.equalDate(day(2016, 1, 1), day(2016, 2, 1)))
        verify(!LunarJs.equalDate(day(2016, 1, 1), day(2017, 1, 1)))
        verify(!LunarJs.equalDate(day(2016, 1, 1), day(2016, 1, 2)))
    }

    function test_smallHelpers() {
        compare(LunarJs.getWeekDay(undefined), 0)
        compare(LunarJs.getWeekDay(day(2016, 2, 1)), 1)
        compare(LunarJs.getWeekDay(day(2016, 2, 7)), 0)
        compare(LunarJs.getMonths(day(2015, 11, 30), day(2016, 2, 1)), 3)
        compare(LunarJs.getMonths(day(2016, 2, 1), day(2015, 11, 30)), -3)
        compare(LunarJs.getGapSeconds(day(2016, 1, 1, 0, 0, 0), day(2016, 1, 1, 0, 1, 30)), 90)
        compare(LunarJs.getWeeks(null, 0), 6)
        compare(LunarJs.getMonthDays(undefined), 0)
        var objDate = day(2016, 5, 4, 10, 20, 30)
        var objCopy = LunarJs.createDate(objDate)
        compare(objCopy.getTime(), objDate.getTime())
        LunarJs.addDays(objCopy, 1)
        compare(LunarJs.getDateStr(objDate), "2016-05-04")
        compare(LunarJs.getCurrentDateStr(), LunarJs.getDateStr(new Date()))
    }
}
