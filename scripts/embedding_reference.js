// Computes the image-embedding reference outputs with TensorFlow.js itself, once, by hand; the
// tests check the converted ONNX network against them (tests/platform/data/embedding_reference.txt).
//
//   npm install --ignore-scripts @tensorflow/tfjs-core@4.22.0 @tensorflow/tfjs-converter@4.22.0 \
//       @tensorflow/tfjs-backend-cpu@4.22.0                          (in a temporary folder)
//   scripts/prepare_embedding_model.py SRC out.onnx --tfjs-dir DIR
//   NODE_PATH=<temporary folder>/node_modules node scripts/embedding_reference.js DIR
//
// The three 224×224 pictures are made from formulas that the C++ test repeats exactly.
const fs = require('fs');
const path = require('path');
const tf = require('@tensorflow/tfjs-core');
require('@tensorflow/tfjs-backend-cpu');
const converter = require('@tensorflow/tfjs-converter');

const side = 224;
const pictures = {
  gradient: (x, y) => [x, y, (x + y) >> 1],
  checker: (x, y) => {
    const r = (((x >> 4) + (y >> 4)) & 1) * 200 + 30;
    return [r, (x * 3 + y * 5) & 255, 255 - r];
  },
  disc: (x, y) => {
    const inside = (x - 112) * (x - 112) + (y - 96) * (y - 96) < 60 * 60;
    const n = (x * y) % 17;
    return inside ? [200 + n, 60 + n, 40] : [40, 90 + n, 160 + n];
  },
};

async function main() {
  const dir = process.argv[2];
  const json = JSON.parse(fs.readFileSync(path.join(dir, 'model.json'), 'utf8'));
  const bin = fs.readFileSync(path.join(dir, 'weights.bin'));
  const weights = bin.buffer.slice(bin.byteOffset, bin.byteOffset + bin.byteLength);
  await tf.setBackend('cpu');
  const model = await converter.loadGraphModel(
      tf.io.fromMemory({modelTopology: json.modelTopology, weightSpecs: json.weightSpecs, weightData: weights}));
  const feature = json.modelTopology.node.map((n) => n.name).find((n) => n.endsWith('/feature_vector/SpatialSqueeze'));
  console.log(`# TensorFlow.js ${tf.version_core}, cpu backend; input = pixel / 255 (NHWC)`);
  console.log('# name, L2 norm, sum, sum of value × (index mod 10), then the 10 largest values as index:value');
  for (const [name, pixel] of Object.entries(pictures)) {
    const data = new Float32Array(side * side * 3);
    for (let y = 0; y < side; ++y)
      for (let x = 0; x < side; ++x) data.set(pixel(x, y).map((v) => v / 255), (y * side + x) * 3);
    const out = model.execute(tf.tensor4d(data, [1, side, side, 3]), feature);
    const v = await out.data();
    let norm = 0, sum = 0, weighted = 0;
    v.forEach((a, i) => { norm += a * a; sum += a; weighted += a * (i % 10); });
    const top = [...v.keys()].sort((a, b) => v[b] - v[a]).slice(0, 10);
    const picks = top.map((i) => `${i}:${v[i].toFixed(6)}`).join(' ');
    console.log(`${name} ${Math.sqrt(norm).toFixed(6)} ${sum.toFixed(4)} ${weighted.toFixed(4)} ${picks}`);
  }
}
main();
