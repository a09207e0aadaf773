#include "numeric/offset_array.h"

DVector dvector(int nl, int nh) { return DVector(nl, nh, "allocation failure in vector()"); }

IVector ivector(int nl, int nh) { return IVector(nl, nh, "allocation failure in ivector()"); }

DMatrix dmatrix(int nrl, int nrh, int ncl, int nch) {
  return DMatrix(nrl, nrh, ncl, nch, "allocation failure 1 in dmatrix()",
                 "allocation failure 2 in dmatrix()");
}

IMatrix imatrix(int nrl, int nrh, int ncl, int nch) {
  return IMatrix(nrl, nrh, ncl, nch, "allocation failure 1 in imatrix()",
                 "allocation failure 2 in imatrix()");
}

CMatrix cmatrix(int nrl, int nrh, int ncl, int nch) {
  CMatrix m(nrl, nrh, ncl, nch, "allocation failure 1 in cmatrix()",
            "allocation failure 2 in cmatrix()");
  for (int i = nrl; i <= nrh; ++i)
    if (nch >= ncl) m[i][ncl] = '\0';
  return m;
}

DMatrix3 dmatrix3(int n1l, int n1h, int n2l, int n2h, int n3l, int n3h) {
  return DMatrix3(n1l, n1h, n2l, n2h, n3l, n3h, "error in dmatrix3");
}

void free_dvector(DVector& v, int, int) { v.reset(); }
void free_ivector(IVector& v, int, int) { v.reset(); }
void free_dmatrix(DMatrix& m, int, int, int, int) { m.reset(); }
void free_imatrix(IMatrix& m, int, int, int, int) { m.reset(); }
void free_cmatrix(CMatrix& m, int, int, int, int) { m.reset(); }
void free_dmatrix3(DMatrix3& t, int, int, int, int, int, int) { t.reset(); }
