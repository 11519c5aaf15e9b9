#include "app/reports/print/PrintRegion.h"

#include <algorithm>

#include "app/reports/print/Page.h"
#include "app/reports/print/PrintText.h"
#include "app/reports/print/Printer.h"

int CPrintRegion::Create(CPage* page, int top, int left, int right, int bottom, int fill) {
    m_pPage = page;
    m_nTop = top;
    m_nLeft = left;
    m_nRight = right;
    m_nBottom = bottom;
    m_nFill = fill;
    PrintState& state = page->State();
    if (top < 0 || left < 0 || right > state.pageWidth || bottom > state.pageHeight)
        return 0;
    m_nBottom = std::min(m_nBottom, state.bottom);
    m_nRight = std::min(m_nRight, state.right);
    // Cut to the print area, nothing may be left of it.
    if (m_nBottom <= m_nTop || m_nRight <= m_nLeft)
        return 0;
    m_nContentRow = m_nTop + 1;
    m_nContentColumn = m_nLeft + 1;
    page->SaveState();
    state.SetRect(m_nLeft, m_nTop, m_nRight, m_nBottom);
    state.fillCode = fill;
    page->Printer().FillArea(&state);
    page->RestoreState();
    return 1;
}

void CPrintRegion::DrawBorder() {
    if (!m_pPage)
        return;
    PrintState& state = m_pPage->State();
    m_pPage->SaveState();
    state.SetRect(m_nLeft, m_nTop, m_nRight, m_nBottom);
    m_pPage->Printer().DrawBox(&state, 1);
    m_pPage->RestoreState();
}

void CPrintRegion::SetTitle(const char* text, int pointSize, int flags, int fill) {
    if (!m_pPage)
        return;
    PrintState& state = m_pPage->State();
    m_pPage->SaveState();
    state.SetRect(m_nLeft, m_nTop, m_nRight, m_nBottom);
    state.text = print::DecodeText(text);
    state.pointSize = pointSize;
    state.flags = flags | print::kSingleLine | print::kVCentred;
    state.fillCode = fill;
    int captionBottom = 0;
    if (flags & print::kFramed) {
        state.bottom = 0;
        m_pPage->Printer().MeasureText(&state, 1.0);
        captionBottom = state.lastRect.bottom + 10;
    } else {
        captionBottom = m_nTop + m_pPage->ConvertToUnits(2.0 * pointSize / 72.0, print::kVertical);
    }
    state.bottom = captionBottom;
    m_pPage->Printer().OutputText(&state, 1.0);
    m_nContentRow = captionBottom + 1;
    m_pPage->RestoreState();
}
