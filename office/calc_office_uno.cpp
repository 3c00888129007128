#include "calc_office.h"

#include "report_cells.h"
#include "uno_context.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/XConnection.hpp>
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

#include <condition_variable>
#include <mutex>
#include <thread>

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

constexpr int kDateTimeColumn = 11;

} // namespace

struct CalcOffice::Impl {
    std::mutex mutex; // guards `connection` against abort() from another thread
    Reference<connection::XConnection> connection;
    Reference<bridge::XBridge> bridge;
    Reference<frame::XDesktop2> desktop;
    Reference<lang::XComponent> document;
    Reference<sheet::XSpreadsheet> sheet;

    void closeConnection() {
        std::lock_guard lock(mutex);
        if (connection.is()) {
            try {
                connection->close();
            } catch (const uno::Exception&) {
            }
        }
    }
};

CalcOffice::CalcOffice() : impl_(std::make_unique<Impl>()) {}

CalcOffice::~CalcOffice() {
    // The documents stay open in the office; only the bridge goes.
    if (impl_->bridge.is()) {
        try {
            Reference<lang::XComponent>(impl_->bridge, UNO_QUERY_THROW)->dispose();
        } catch (const uno::Exception&) {
        }
    }
}

bool CalcOffice::supported() {
    return true;
}

bool CalcOffice::connect(const std::string& pipeName, std::chrono::milliseconds bound) {
    const Reference<uno::XComponentContext> local = unoLocalContext();
    Reference<connection::XConnection> connection;
    try {
        connection = connection::Connector::create(local)->connect(
            toOUString("pipe,name=" + pipeName));
    } catch (const uno::Exception&) {
        return false; // nobody accepts on the pipe yet
    }
    {
        std::lock_guard lock(impl_->mutex);
        impl_->connection = connection;
    }
    // The pipe may accept and then never answer: closing the connection after `bound` ends
    // the wait for the office's first answer.
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!answered.wait_for(lock, bound, [&] { return done; }))
            impl_->closeConnection();
    });
    bool reached = false;
    try {
        impl_->bridge = bridge::BridgeFactory::create(local)->createBridge(
            rtl::OUString(), rtl::OUString("urp"), connection, nullptr);
        Reference<uno::XComponentContext> remote(
            impl_->bridge->getInstance(rtl::OUString("StarOffice.ComponentContext")),
            UNO_QUERY_THROW);
        impl_->desktop = frame::Desktop::create(remote);
        reached = true;
    } catch (const uno::Exception&) {
    }
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    answered.notify_all();
    watchdog.join();
    return reached;
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

ReportTyping CalcOffice::typing() {
    util::Date nullDate{30, 12, 1899};
    try {
        Reference<beans::XPropertySet> docProps(impl_->document, UNO_QUERY_THROW);
        docProps->getPropertyValue(rtl::OUString("NullDate")) >>= nullDate;
    } catch (const uno::Exception&) {
    }
    return ReportTyping(nullDate.Year, nullDate.Month, nullDate.Day);
}

bool CalcOffice::writeRows(int firstRow, const std::vector<ReportRow>& rows) {
    if (!impl_->sheet.is() || rows.empty())
        return false;
    try {
        const auto count = static_cast<sal_Int32>(rows.size());
        Sequence<Sequence<Any>> block(count);
        auto* out = block.getArray();
        for (sal_Int32 r = 0; r < count; ++r) {
            Sequence<Any> line(kReportColumns);
            auto* cells = line.getArray();
            for (int c = 0; c < kReportColumns; ++c) {
                const ReportCell& cell = rows[static_cast<std::size_t>(r)][c];
                // An empty text, not a void Any (which the office shows as #N/A).
                if (cell.kind == ReportCell::Number || cell.kind == ReportCell::DateTime)
                    cells[c] <<= cell.number;
                else
                    cells[c] <<= toOUString(cell.text);
            }
            out[r] = line;
        }
        Reference<table::XCellRange> range = impl_->sheet->getCellRangeByPosition(
            0, firstRow, kReportColumns - 1, firstRow + count - 1);
        Reference<sheet::XCellRangeData>(range, UNO_QUERY_THROW)->setDataArray(block);
        return true;
    } catch (const uno::Exception&) {
        return false;
    }
}

bool CalcOffice::formatColumns(int firstRow, int lastRow) {
    if (!impl_->sheet.is())
        return false;
    // Columns B .. L by their number format; A (the meter) and K (the status) keep theirs.
    static const struct {
        int first, last;
        const char* pattern;
    } kFormats[] = {
        {1, 1, "0.0000"}, {2, 5, "0.00"}, {6, 7, "0.0000"}, {8, 9, "0.00"},
        {kDateTimeColumn, kDateTimeColumn, "YYYY-MM-DD HH:MM:SS"},
    };
    try {
        Reference<util::XNumberFormatsSupplier> supplier(impl_->document, UNO_QUERY_THROW);
        Reference<util::XNumberFormats> formats = supplier->getNumberFormats();
        const lang::Locale locale;
        for (const auto& f : kFormats) {
            const rtl::OUString pattern = rtl::OUString::createFromAscii(f.pattern);
            sal_Int32 key = formats->queryKey(pattern, locale, false);
            if (key < 0)
                key = formats->addNew(pattern, locale);
            Reference<beans::XPropertySet> cells(
                impl_->sheet->getCellRangeByPosition(f.first, firstRow, f.last, lastRow),
                UNO_QUERY_THROW);
            cells->setPropertyValue(rtl::OUString("NumberFormat"), Any(key));
        }
        return true;
    } catch (const uno::Exception&) {
        return false;
    }
}

void CalcOffice::abort() {
    impl_->closeConnection();
}

} // namespace mirv
