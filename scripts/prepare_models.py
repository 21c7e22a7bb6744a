#!/usr/bin/python3
"""Rewrites the PaddleOCR v4 ONNX models so that OpenCV 4.6's DNN importer loads them.

usage: prepare_models.py SRC_DIR OUT_DIR WIDTH...

- det: Clip nodes take min/max as inputs (opset 11); OpenCV 4.6 reads them only as attributes.
- rec: pinned to 1x3x48xW (one file per width, OpenCV fails on dynamic shapes), then the 1-D
  constants that Mul/Add broadcast over [1, T, C] activations (LayerNorm gamma/beta, Linear
  bias) are expanded to the full shape, which OpenCV's Scale layer needs.
"""
import sys

import numpy as np
import onnx
from onnx import helper, numpy_helper


def constant_values(graph):
    values = {init.name: numpy_helper.to_array(init) for init in graph.initializer}
    for node in graph.node:
        if node.op_type == "Constant":
            for attr in node.attribute:
                if attr.name == "value":
                    values[node.output[0]] = numpy_helper.to_array(attr.t)
    return values


def fix_clip(model):
    graph = model.graph
    values = constant_values(graph)
    fixed = 0
    for node in graph.node:
        if node.op_type != "Clip" or len(node.input) < 2:
            continue
        lo = values.get(node.input[1]) if len(node.input) > 1 and node.input[1] else None
        hi = values.get(node.input[2]) if len(node.input) > 2 and node.input[2] else None
        del node.input[1:]
        if lo is not None:
            node.attribute.append(helper.make_attribute("min", float(lo)))
        if hi is not None:
            node.attribute.append(helper.make_attribute("max", float(hi)))
        fixed += 1
    return fixed


def pin_input(model, width):
    dims = model.graph.input[0].type.tensor_type.shape.dim
    for dim, value in zip(dims, (1, 3, 48, width)):
        dim.ClearField("dim_param")
        dim.dim_value = value
    for out in model.graph.output:
        for dim in out.type.tensor_type.shape.dim:
            dim.ClearField("dim_param")
            dim.ClearField("dim_value")


def expand_broadcast_constants(model, width):
    """After the backbone the features are flattened to [1, T, C] with T = width / 8 (ONNX shape
    inference cannot follow the Shape→Reshape chain, so T is taken from the network's stride)."""
    graph = model.graph
    steps = width // 8
    const_nodes = {n.output[0]: n for n in graph.node if n.op_type == "Constant"}
    inits = {i.name: i for i in graph.initializer}
    expanded = 0
    for node in graph.node:
        if node.op_type not in ("Mul", "Add"):
            continue
        for name in node.input:
            if name in const_nodes:
                tensor = [a for a in const_nodes[name].attribute if a.name == "value"][0].t
            elif name in inits:
                tensor = inits[name]
            else:
                continue
            value = numpy_helper.to_array(tensor)
            if value.ndim != 1 or value.size <= 1:
                continue
            full = np.ascontiguousarray(np.broadcast_to(value, (1, steps, value.size))).astype(value.dtype)
            tensor.CopyFrom(numpy_helper.from_array(full, tensor.name))
            expanded += 1
    return expanded


def main():
    src, out, widths = sys.argv[1], sys.argv[2], [int(w) for w in sys.argv[3:]]
    det = onnx.load(f"{src}/ch_PP-OCRv4_det_infer.onnx")
    n = fix_clip(det)
    onnx.save(det, f"{out}/det.onnx")
    print(f"det: {n} Clip nodes rewritten")
    for width in widths:
        rec = onnx.load(f"{src}/ch_PP-OCRv4_rec_infer.onnx")
        fix_clip(rec)
        pin_input(rec, width)
        n = expand_broadcast_constants(rec, width)
        onnx.save(rec, f"{out}/rec_48x{width}.onnx")
        print(f"rec 48x{width}: {n} constants expanded")


if __name__ == "__main__":
    main()
