#pragma once
// A rectangle of a page with a fill, an outline and a caption; what is
// printed into it is placed relative to its content origin.

class CPage;

class CPrintRegion {
public:
    virtual ~CPrintRegion() = default;

    // Places the region on the page; 0 when it does not fit the page.
    virtual int Create(CPage* page, int top, int left, int right, int bottom, int fill);
    virtual void SetTitle(const char* text, int pointSize, int flags, int fill);
    virtual void DrawBorder();

    int m_nContentRow = 0;
    int m_nContentColumn = 0;
    int m_nTop = 0;
    int m_nLeft = 0;
    int m_nRight = 0;
    int m_nBottom = 0;
    int m_nFill = 0;
    CPage* m_pPage = nullptr;
};
