"""Makes the tiny images of tests/data/images (run it there; the files are
committed, so that the C++ test needs no Python):

  good.edf    2 x 3 int16, LowByteFirst, one gap (-1)     (fabio)
  good.tif    2 x 3 uint16, one saturated pixel (65535)   (fabio)
  good.cbf    2 x 3 int32, byte offset, one gap (-2)      (fabio)
  good.h5     /stack: 2 x 2 x 3 float32, a NaN in frame 1  (h5py)
  and the bad ones, each broken in one way (see bad below); newline.edf
  is a finding of fuzz_edf (a line end inside a header value),
  overlong.cbf one of fuzz_image (good.cbf with X-Binary-Size 48, not 24).

The test (tests/test_vabo_image.cpp) checks the good ones against the
values written here and the bad ones against their one error line.
"""

import numpy as np

EDF_GOOD = np.array([[7, -1, 300], [-32768, 12, 32767]], np.int16)
TIF_GOOD = np.array([[0, 65535, 17], [4242, 1, 65534]], np.uint16)
CBF_GOOD = np.array([[5, -2, 70000], [-70000, 128, 3]], np.int32)
H5_GOOD = np.array([[[1.5, 2.25, -0.5], [3, 4, 5]],
                    [[6.125, np.nan, 8], [9, 10, 11]]], np.float32)


def edf(body, data=b"", pad=True):
    header = "{\n" + body
    header = (header.ljust(510) if pad else header) + "}\n"
    return header.encode() + data


def main():
    from fabio.cbfimage import CbfImage
    from fabio.edfimage import EdfImage
    from fabio.tifimage import TifImage
    import h5py

    EdfImage(data=EDF_GOOD).write("good.edf")
    TifImage(data=TIF_GOOD).write("good.tif")
    CbfImage(data=CBF_GOOD).write("good.cbf")
    with h5py.File("good.h5", "w", libver="latest") as out:
        out.create_dataset("stack", data=H5_GOOD)
        out.create_dataset("line", data=np.arange(3, dtype=np.int8))

    head = "ByteOrder = LowByteFirst ;\n"
    bad = {
        # EDF: every number of the header against the others and the file.
        "truncated.edf": edf(head + "DataType = UnsignedShort ;\n"
                             "Dim_1 = 4 ;\nDim_2 = 3 ;\nSize = 24 ;\n",
                             bytes(10)),
        "zero.edf": edf(head + "DataType = UnsignedShort ;\n"
                        "Dim_1 = 0 ;\nDim_2 = 3 ;\n"),
        "huge.edf": edf(head + "DataType = FloatValue ;\n"
                        "Dim_1 = 100000 ;\nDim_2 = 100000 ;\n", bytes(16)),
        "type.edf": edf(head + "DataType = ComplexValue ;\n"
                        "Dim_1 = 2 ;\nDim_2 = 2 ;\n", bytes(32)),
        "size.edf": edf(head + "DataType = SignedInteger ;\n"
                        "Dim_1 = 2 ;\nDim_2 = 2 ;\nSize = 8 ;\n", bytes(16)),
        "order.edf": edf("DataType = SignedInteger ;\n"
                         "Dim_1 = 2 ;\nDim_2 = 2 ;\n", bytes(16)),
        "open.edf": b"{\nDataType = SignedByte ;\nDim_1 = 2 ;\n",
        "nodim.edf": edf(head + "DataType = SignedByte ;\nDim_1 = 2 ;\n",
                         bytes(4)),
        "longtype.edf": edf(head + "DataType = " + "Float" * 60 + " ;\n"
                            "Dim_1 = 2 ;\nDim_2 = 2 ;\n", bytes(16)),
        # TIFF, CBF, HDF5: cut short, or not what an image is.
        "truncated.tif": open("good.tif", "rb").read()[:40],
        "rgb.tif": None,
        "truncated.cbf": None,
        "packed.cbf": None,
        "truncated.h5": open("good.h5", "rb").read()[:300],
        "text.txt": b"TwoTheta i1 i2\n0.1 2 3\n",
        "empty.img": b"",
    }
    cbf = open("good.cbf", "rb").read()
    bad["truncated.cbf"] = cbf[:-40]
    bad["short.cbf"] = cbf.replace(b"X-Binary-Size: 24", b"X-Binary-Size: 12")
    bad["packed.cbf"] = cbf.replace(b"x-CBF_BYTE_OFFSET", b"x-CBF_PACKED\"  ")
    for name, content in bad.items():
        if content is not None:
            with open(name, "wb") as out:
                out.write(content)
    TifImage(data=np.zeros((2, 2, 3), np.uint8)).write("rgb.tif")
    import gzip
    with open("good.edf", "rb") as edf_file:
        with gzip.open("good.edf.gz", "wb") as out:
            out.write(edf_file.read())


if __name__ == "__main__":
    main()
