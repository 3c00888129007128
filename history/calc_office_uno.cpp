#include "calc_office.h"

#include "report_cells.h"
#include "uno_context.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/Locale.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/util/Date.hpp>
#include <com/sun/star/util/XNumberFormats.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>
#include <osl/file.hxx>
#include <rtl/uri.hxx>

namespace mirv {

using namespace com::sun::star;
using uno::Any;
using uno::Reference;
using uno::Sequence;
using uno::UNO_QUERY;
using uno::UNO_QUERY_THROW;

namespace {

rtl::OUString toOUString(const std::string& s) {
    return rtl::OUString(s.data(), static_cast<sal_Int32>(s.size()), RTL_TEXTENCODING_UTF8);
}

constexpr int kFirstDataRow = 2; // row 3, counted from 0
constexpr int kDateTimeColumn = 11;

} // namespace

struct CalcOffice::Impl {
    Reference<frame::XDesktop2> desktop;
    Reference<lang::XComponent> document;
    Reference<sheet::XSpreadsheet> sheet;
};

CalcOffice::CalcOffice() : impl_(std::make_unique<Impl>()) {}
CalcOffice::~CalcOffice() = default;

bool CalcOffice::supported() {
    return true;
}

bool CalcOffice::connect(const std::string& pipeName) {
    try {
        Reference<bridge::XUnoUrlResolver> resolver =
            bridge::UnoUrlResolver::create(unoLocalContext());
        Reference<uno::XComponentContext> remote(
            resolver->resolve(
                toOUString("uno:pipe,name=" + pipeName + ";urp;StarOffice.ComponentContext")),
            UNO_QUERY_THROW);
        impl_->desktop = frame::Desktop::create(remote);
        return true;
    } catch (const uno::Exception&) {
        return false;
    }
}

bool CalcOffice::openTemplate(const std::string& templatePath) {
    if (!impl_->desktop.is())
        return false;
    try {
        rtl::OUString url;
        if (osl::FileBase::getFileURLFromSystemPath(toOUString(templatePath), url) !=
            osl::FileBase::E_None)
            return false;
        // As a template: an untitled copy that the operator saves under a name of their
        // choice; the shipped file is never overwritten or locked.
        Sequence<beans::PropertyValue> args(2);
        args.getArray()[0].Name = rtl::OUString("AsTemplate");
        args.getArray()[0].Value <<= true;
        args.getArray()[1].Name = rtl::OUString("Hidden");
        args.getArray()[1].Value <<= false;
        impl_->document =
            impl_->desktop->loadComponentFromURL(url, rtl::OUString("_blank"), 0, args);
        Reference<sheet::XSpreadsheetDocument> doc(impl_->document, UNO_QUERY_THROW);
        Reference<container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
        impl_->sheet.set(sheets->getByIndex(0), UNO_QUERY_THROW);
        Reference<frame::XModel> model(impl_->document, UNO_QUERY_THROW);
        Reference<sheet::XSpreadsheetView> view(model->getCurrentController(), UNO_QUERY);
        if (view.is())
            view->setActiveSheet(impl_->sheet);
        return true;
    } catch (const uno::Exception&) {
        return false;
    }
}

bool CalcOffice::writeRows(const HistoryRows& rows) {
    if (!impl_->sheet.is() || rows.empty())
        return false;
    try {
        Reference<beans::XPropertySet> docProps(impl_->document, UNO_QUERY_THROW);
        util::Date nullDate{30, 12, 1899};
        docProps->getPropertyValue(rtl::OUString("NullDate")) >>= nullDate;
        const std::vector<ReportRow> report =
            reportRows(rows, nullDate.Year, nullDate.Month, nullDate.Day);

        const auto count = static_cast<sal_Int32>(report.size());
        Sequence<Sequence<Any>> block(count);
        auto* out = block.getArray();
        for (sal_Int32 r = 0; r < count; ++r) {
            Sequence<Any> line(kReportColumns);
            auto* cells = line.getArray();
            for (int c = 0; c < kReportColumns; ++c) {
                const ReportCell& cell = report[static_cast<std::size_t>(r)][c];
                // An empty text, not a void Any (which the office shows as #N/A).
                if (cell.kind == ReportCell::Number || cell.kind == ReportCell::DateTime)
                    cells[c] <<= cell.number;
                else
                    cells[c] <<= toOUString(cell.text);
            }
            out[r] = line;
        }
        Reference<table::XCellRange> range = impl_->sheet->getCellRangeByPosition(
            0, kFirstDataRow, kReportColumns - 1, kFirstDataRow + count - 1);
        Reference<sheet::XCellRangeData>(range, UNO_QUERY_THROW)->setDataArray(block);

        // The time stamps show as yyyy-mm-dd hh:mm:ss.
        Reference<util::XNumberFormatsSupplier> supplier(impl_->document, UNO_QUERY_THROW);
        Reference<util::XNumberFormats> formats = supplier->getNumberFormats();
        const rtl::OUString pattern = rtl::OUString("YYYY-MM-DD HH:MM:SS");
        const lang::Locale locale;
        sal_Int32 key = formats->queryKey(pattern, locale, false);
        if (key < 0)
            key = formats->addNew(pattern, locale);
        Reference<beans::XPropertySet> times(
            impl_->sheet->getCellRangeByPosition(kDateTimeColumn, kFirstDataRow, kDateTimeColumn,
                                                 kFirstDataRow + count - 1),
            UNO_QUERY_THROW);
        times->setPropertyValue(rtl::OUString("NumberFormat"), Any(key));
        return true;
    } catch (const uno::Exception&) {
        return false;
    }
}

} // namespace mirv
