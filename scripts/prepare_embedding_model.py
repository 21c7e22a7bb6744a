#!/usr/bin/python3
"""Converts nsfwjs's MobileNetV2 1.4 (a TensorFlow.js graph model) to ONNX for OpenCV 4.6 DNN.

usage: prepare_embedding_model.py SRC_DIR OUT.onnx [--tfjs-dir DIR]

SRC_DIR is the package's dist/models/mobilenet_v2_mid/: model.min.js holds the graph and the
weights manifest as a JavaScript object literal, group1-shard*.min.js hold the weights as base64
text, quantised to 8 bits. The weights are dequantised exactly as TF.js does
(value = q * scale + min per tensor, computed in double and stored as float32).

The network is cut at its 1,792-value feature layer (feature_vector/SpatialSqueeze); the 1792→5
classifier head is dropped. Input: "input", 1×3×224×224 RGB in [0, 1] (the graph's own hub_input
step maps it to [-1, 1]); output: "feature", 1×1792.

For OpenCV 4.6: NCHW throughout, opset 10 (Clip with min/max as attributes), TF's SAME padding
as auto_pad SAME_UPPER, the 7×7 average pool as GlobalAveragePool, the squeeze as Flatten.

--tfjs-dir also writes model.json and weights.bin there, so TF.js itself can load the same
weights (tf.io.fromMemory) to make the reference outputs the tests compare against.
"""
import base64
import glob
import json
import os
import re
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

FEATURE_NODE = "feature_vector/SpatialSqueeze"
INPUT_SIDE = 224


class JsLiteral:
    """Reads the JSON-like object literal a minifier leaves behind: bare keys, !0/!1 for
    true/false, numbers such as .5. No code is run."""

    number = re.compile(r"-?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?")
    ident = re.compile(r"[A-Za-z_$][\w$]*")

    def __init__(self, text, pos):
        self.s, self.i = text, pos

    def parse(self):
        s = self.s
        c = s[self.i]
        if c == "{":
            self.i += 1
            out = {}
            while s[self.i] != "}":
                if s[self.i] == '"':
                    key = self.string()
                else:
                    m = self.ident.match(s, self.i)
                    key, self.i = m.group(0), m.end()
                assert s[self.i] == ":", s[self.i - 20:self.i + 20]
                self.i += 1
                out[key] = self.parse()
                if s[self.i] == ",":
                    self.i += 1
            self.i += 1
            return out
        if c == "[":
            self.i += 1
            out = []
            while s[self.i] != "]":
                out.append(self.parse())
                if s[self.i] == ",":
                    self.i += 1
            self.i += 1
            return out
        if c == '"':
            return self.string()
        if s.startswith("!0", self.i):
            self.i += 2
            return True
        if s.startswith("!1", self.i):
            self.i += 2
            return False
        m = self.number.match(s, self.i)
        assert m, s[self.i:self.i + 40]
        self.i = m.end()
        text = m.group(0)
        return float(text) if any(ch in text for ch in ".eE") else int(text)

    def string(self):
        end = self.s.index('"', self.i + 1)
        assert "\\" not in self.s[self.i:end]
        value = self.s[self.i + 1:end]
        self.i = end + 1
        return value


def load_model(src):
    text = open(os.path.join(src, "model.min.js"), encoding="utf-8").read()
    start = re.search(r"\.exports=\{", text).end() - 1
    return JsLiteral(text, start).parse()


def load_shard(path):
    text = open(path, encoding="utf-8").read()
    m = re.search(r'\.exports="([A-Za-z0-9+/=]+)"', text)
    return base64.b64decode(m.group(1))


def load_weights(src, manifest):
    weights = {}
    for group in manifest:
        data = b"".join(load_shard(os.path.join(src, p + ".min.js")) for p in group["paths"])
        offset = 0
        for w in group["weights"]:
            count = int(np.prod(w["shape"])) if w["shape"] else 1
            q = w.get("quantization")
            assert w["dtype"] == "float32", w["name"]
            if q:
                assert q["dtype"] == "uint8", q
                raw = np.frombuffer(data, np.uint8, count, offset)
                offset += count
                values = (raw.astype(np.float64) * q["scale"] + q["min"]).astype(np.float32)
            else:
                values = np.frombuffer(data, np.float32, count, offset).copy()
                offset += 4 * count
            weights[w["name"]] = values.reshape(w["shape"])
        assert offset == len(data), (offset, len(data))
    return weights


def short(name):
    """Drops the Keras/hub wrapper prefix: 'MobilenetV2/Conv/Relu6'."""
    return name.split("/predict/")[-1]


def decoded(attr, key):
    return [base64.b64decode(s).decode() for s in attr[key]["list"].get("s", [])]


def ints(attr, key):
    return [int(i) for i in attr[key]["list"]["i"]]


def build_onnx(model, weights):
    nodes = {n["name"]: n for n in model["modelTopology"]["node"]}
    graph_nodes, inits = [], []
    done = {}

    def const(name):
        key = "c:" + name
        if key not in done:
            inits.append(numpy_helper.from_array(weights[name], short(name)))
            done[key] = short(name)
        return done[key]

    def convert(name):
        if name in done:
            return done[name]
        n = nodes[name]
        op, attr, out = n["op"], n.get("attr", {}), short(name)
        ins = n.get("input", [])
        if op == "Placeholder":
            done[name] = "input"
            return "input"
        if op in ("Mul", "Sub", "AddV2"):
            args = [const(i) if nodes[i]["op"] == "Const" else convert(i) for i in ins]
            graph_nodes.append(helper.make_node({"AddV2": "Add"}.get(op, op), args, [out], name=out))
        elif op in ("_FusedConv2D", "FusedDepthwiseConv2dNative"):
            fused = decoded(attr, "fused_ops")
            assert fused in (["BiasAdd"], ["BiasAdd", "Relu6"]), fused
            assert base64.b64decode(attr["data_format"]["s"]).decode() == "NHWC"
            padding = base64.b64decode(attr["padding"]["s"]).decode()
            strides = ints(attr, "strides")[1:3]
            assert ints(attr, "dilations") == [1, 1, 1, 1]
            x = convert(ins[0])
            w = weights[ins[1]]
            if op == "_FusedConv2D":  # HWIO → OIHW
                kernel, group = w.transpose(3, 2, 0, 1), 1
            else:  # H W C 1 → C 1 H W, one group per channel
                kernel, group = w.transpose(2, 3, 0, 1), w.shape[2]
            wname, bname = short(ins[1]), short(ins[2])
            inits.append(numpy_helper.from_array(np.ascontiguousarray(kernel), wname))
            inits.append(numpy_helper.from_array(weights[ins[2]], bname))
            conv_out = out + "/conv" if "Relu6" in fused else out
            graph_nodes.append(helper.make_node(
                "Conv", [x, wname, bname], [conv_out], name=conv_out,
                kernel_shape=list(kernel.shape[2:]), strides=strides, group=group,
                auto_pad="SAME_UPPER" if padding == "SAME" else "VALID"))
            if "Relu6" in fused:
                graph_nodes.append(helper.make_node("Clip", [conv_out], [out], name=out, min=0.0, max=6.0))
        elif op == "AvgPool":
            assert ints(attr, "ksize") == [1, 7, 7, 1]
            graph_nodes.append(helper.make_node("GlobalAveragePool", [convert(ins[0])], [out], name=out))
        elif op == "Squeeze":
            assert ints(attr, "squeeze_dims") == [1, 2]
            graph_nodes.append(helper.make_node("Flatten", [convert(ins[0])], [out], name=out, axis=1))
        else:
            raise ValueError(f"unexpected op {op} at {name}")
        done[name] = out
        return out

    feature = [n for n in nodes if n.endswith("/" + FEATURE_NODE)]
    assert len(feature) == 1, feature
    last = convert(feature[0])
    graph_nodes.append(helper.make_node("Identity", [last], ["feature"], name="feature"))
    graph = helper.make_graph(
        graph_nodes, "mobilenet_v2_140_feature",
        [helper.make_tensor_value_info("input", TensorProto.FLOAT, [1, 3, INPUT_SIDE, INPUT_SIDE])],
        [helper.make_tensor_value_info("feature", TensorProto.FLOAT, [1, 1792])],
        inits)
    onnx_model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 10)],
                                   producer_name="vitrino")
    onnx_model.ir_version = 6
    onnx.checker.check_model(onnx_model)
    return onnx_model


def write_tfjs(model, weights, out_dir):
    """The same dequantised weights as a plain float32 TF.js graph model."""
    os.makedirs(out_dir, exist_ok=True)
    specs, blobs = [], []
    for group in model["weightsManifest"]:
        for w in group["weights"]:
            specs.append({"name": w["name"], "shape": w["shape"], "dtype": "float32"})
            blobs.append(weights[w["name"]].astype("<f4").tobytes())
    with open(os.path.join(out_dir, "weights.bin"), "wb") as f:
        f.write(b"".join(blobs))
    with open(os.path.join(out_dir, "model.json"), "w") as f:
        json.dump({"modelTopology": model["modelTopology"], "weightSpecs": specs}, f)


def main():
    src, out = sys.argv[1], sys.argv[2]
    model = load_model(src)
    weights = load_weights(src, model["weightsManifest"])
    onnx_model = build_onnx(model, weights)
    onnx.save(onnx_model, out)
    convs = sum(1 for n in onnx_model.graph.node if n.op_type == "Conv")
    print(f"embedding: {len(weights)} tensors dequantised, {convs} convolutions, feature layer 1792")
    if len(sys.argv) > 4 and sys.argv[3] == "--tfjs-dir":
        write_tfjs(model, weights, sys.argv[4])


if __name__ == "__main__":
    main()
