// Luminance with the Rec. 601 weights.
precision mediump float;

uniform sampler2D s_texture;

varying vec2 v_texCoord;

const vec3 kLuma = vec3(0.299, 0.587, 0.114);

void main() {
    float luma = dot(texture2D(s_texture, v_texCoord).rgb, kLuma);
    gl_FragColor = vec4(vec3(luma), 1.0);
}
