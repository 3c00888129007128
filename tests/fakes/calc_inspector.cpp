#include "calc_inspector.h"

#include "uno_context.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/util/XModifiable.hpp>

#include <chrono>
#include <thread>

namespace mirv::test {

using namespace com::sun::star;
using uno::Reference;
using uno::UNO_QUERY;

namespace {

std::string toUtf8(const rtl::OUString& s) {
    return rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8).getStr();
}

} // namespace

struct CalcInspector::Impl {
    Reference<frame::XDesktop2> desktop;

    std::vector<Reference<lang::XComponent>> components() {
        std::vector<Reference<lang::XComponent>> out;
        Reference<container::XEnumeration> e = desktop->getComponents()->createEnumeration();
        while (e->hasMoreElements())
            out.emplace_back(e->nextElement(), UNO_QUERY);
        return out;
    }
};

CalcInspector::CalcInspector(const std::string& pipeName) : impl_(std::make_unique<Impl>()) {
    const rtl::OUString url = rtl::OStringToOUString(
        ("uno:pipe,name=" + pipeName + ";urp;StarOffice.ComponentContext").c_str(),
        RTL_TEXTENCODING_UTF8);
    for (int attempt = 0; attempt < 120 && !impl_->desktop.is(); ++attempt) {
        try {
            Reference<uno::XComponentContext> remote(
                bridge::UnoUrlResolver::create(mirv::unoLocalContext())->resolve(url), UNO_QUERY);
            impl_->desktop = frame::Desktop::create(remote);
        } catch (const uno::Exception&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
    }
}

CalcInspector::~CalcInspector() = default;

bool CalcInspector::connected() const {
    return impl_->desktop.is();
}

std::vector<OpenSpreadsheet> CalcInspector::spreadsheets(int rows, int columns) {
    std::vector<OpenSpreadsheet> out;
    if (!connected())
        return out;
    for (const auto& component : impl_->components()) {
        Reference<sheet::XSpreadsheetDocument> doc(component, UNO_QUERY);
        if (!doc.is())
            continue;
        OpenSpreadsheet s;
        s.url = toUtf8(Reference<frame::XModel>(component, UNO_QUERY)->getURL());
        Reference<container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY);
        Reference<sheet::XSpreadsheet> sheet(sheets->getByIndex(0), UNO_QUERY);
        for (int r = 0; r < rows; ++r) {
            std::vector<SheetCell> line;
            for (int c = 0; c < columns; ++c) {
                Reference<table::XCell> cell = sheet->getCellByPosition(c, r);
                SheetCell sc;
                switch (cell->getType()) {
                case table::CellContentType_VALUE:
                    sc.kind = SheetCell::Value;
                    break;
                case table::CellContentType_TEXT:
                    sc.kind = SheetCell::Text;
                    break;
                case table::CellContentType_FORMULA:
                    sc.kind = SheetCell::Formula;
                    break;
                default:
                    sc.kind = SheetCell::Empty;
                    break;
                }
                sc.value = cell->getValue();
                sc.shown = toUtf8(Reference<text::XTextRange>(cell, UNO_QUERY)->getString());
                line.push_back(sc);
            }
            s.cells.push_back(line);
        }
        out.push_back(std::move(s));
    }
    return out;
}

std::vector<int> CalcInspector::columnWidths(int columns, bool optimal) {
    std::vector<int> widths;
    if (!connected())
        return widths;
    for (const auto& component : impl_->components()) {
        Reference<sheet::XSpreadsheetDocument> doc(component, UNO_QUERY);
        if (!doc.is())
            continue;
        Reference<container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY);
        Reference<table::XColumnRowRange> sheet(sheets->getByIndex(0), UNO_QUERY);
        Reference<container::XIndexAccess> all(sheet->getColumns(), UNO_QUERY);
        for (int c = 0; c < columns; ++c) {
            Reference<beans::XPropertySet> column(all->getByIndex(c), UNO_QUERY);
            if (optimal)
                column->setPropertyValue("OptimalWidth", uno::Any(true));
            sal_Int32 width = 0;
            column->getPropertyValue("Width") >>= width;
            widths.push_back(width);
        }
        break;
    }
    return widths;
}

void CalcInspector::terminate() {
    if (!connected())
        return;
    try {
        for (const auto& component : impl_->components())
            if (Reference<util::XModifiable> m{component, UNO_QUERY}; m.is())
                m->setModified(false);
        impl_->desktop->terminate();
    } catch (const uno::Exception&) {
        // The bridge goes down with the office.
    }
}

} // namespace mirv::test
